// Runs every kernel on the same seeded random inputs (edge values
// included) and prints one FNV-1a hash per output, optionally saving the
// raw outputs. Built for both backends: the two programs' lines must be
// identical, which is how the GPU is checked bit for bit against the CPU.
//
//   kernel-crosscheck-<backend> [--model-grid WIDTHxHEIGHT] [--model-steps N] [OUTPUT_DIR]
//
// The model run at the end defaults to 40 steps on the kernels' 576 x 384
// grid; a smaller grid or fewer steps fit a slow device (a GPU simulator).
#include <cuda_runtime.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fnv1a.h"
#include "random_test_values.h"
#include "model/simulation_step.h"
#include "program_output/standard_output.h"
#include "program_output/version_line.h"
#include "kernels/device_constants.h"
#include "kernels/kernel_launch.h"
#include "model/device_settings.h"
#include "model/water_model.h"

namespace {

constexpr int kWidth = 576;
constexpr int kHeight = 384;
constexpr int kCells = kWidth * kHeight;
constexpr int kBlock = 576;

// Which NaN an operation returns is the processor's choice (the GPU returns
// one canonical NaN, x86 another), so every NaN is hashed as the same one.
void canonicaliseNaNs(std::vector<float>& values)
{
    for (float& v : values)
        if (std::isnan(v)) v = std::numeric_limits<float>::quiet_NaN();
}

void canonicaliseNaNs(std::vector<uint32_t>&) {}

class Checker {
public:
    explicit Checker(const char* outputDir) : outputDir_(outputDir ? outputDir : "") {}

    template <typename T>
    T* upload(const std::vector<T>& host)
    {
        void* device = nullptr;
        if (cudaMalloc(&device, host.size() * sizeof(T)) != cudaSuccess ||
            cudaMemcpy(device, host.data(), host.size() * sizeof(T), cudaMemcpyHostToDevice) != cudaSuccess) {
            std::fprintf(stderr, "device allocation or copy failed\n");
            failed_ = true;
        }
        allocations_.push_back(device);
        return static_cast<T*>(device);
    }

    // Prints the hash of a device array (and saves it) under the given name.
    template <typename T>
    void report(const char* name, const T* device, size_t count)
    {
        const cudaError_t launch = cudaDeviceSynchronize();
        std::vector<T> host(count);
        if (launch != cudaSuccess ||
            cudaMemcpy(host.data(), device, count * sizeof(T), cudaMemcpyDeviceToHost) != cudaSuccess) {
            std::fprintf(stderr, "%s: %s\n", name, cudaGetErrorString(launch != cudaSuccess ? launch : cudaGetLastError()));
            failed_ = true;
            return;
        }
        canonicaliseNaNs(host);
        std::printf("%-24s %016llx\n", name,
                    static_cast<unsigned long long>(fnv1a64(host)));
        if (!outputDir_.empty()) {
            const std::string path = outputDir_ + "/" + name + ".bin";
            if (FILE* file = std::fopen(path.c_str(), "wb")) {
                std::fwrite(host.data(), sizeof(T), count, file);
                std::fclose(file);
            }
        }
    }

    // A device constant's setting, which prints its own failure.
    void set(bool written) { failed_ = failed_ || !written; }

    bool failed() const { return failed_ || cudaGetLastError() != cudaSuccess; }

    ~Checker()
    {
        for (void* p : allocations_) cudaFree(p);
    }

private:
    std::string outputDir_;
    std::vector<void*> allocations_;
    bool failed_ = false;
};

struct Options {
    const char* outputDir = nullptr;
    int modelWidth = kWidth;
    int modelHeight = kHeight;
    int modelSteps = 40;
};

// Parses the command line; false (after a message) when it is not usable.
bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        char end = 0;
        if (argument == "--model-grid" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d%c", &options.modelWidth, &options.modelHeight, &end) != 2 ||
                !isSupportedWaterModelSize(options.modelWidth, options.modelHeight)) {
                std::fprintf(stderr, "--model-grid %s: not a grid the model takes (multiples of 16, cells a multiple "
                             "of %d)\n", argv[i], kCellCountMultiple);
                return false;
            }
        } else if (argument == "--model-steps" && hasValue) {
            if (std::sscanf(argv[++i], "%d%c", &options.modelSteps, &end) != 1 || options.modelSteps < 1) {
                std::fprintf(stderr, "--model-steps %s: not a positive number of steps\n", argv[i]);
                return false;
            }
        } else if (argument[0] != '-' && options.outputDir == nullptr) {
            options.outputDir = argv[i];
        } else {
            std::fprintf(stderr, "usage: %s [--model-grid WIDTHxHEIGHT] [--model-steps N] [OUTPUT_DIR]\n", argv[0]);
            return false;
        }
    }
    return true;
}

}  // namespace

static int runCrosscheck(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--version") {
        printVersionLine(argv[0]);
        return 0;
    }
    Options options;
    if (!parseOptions(argc, argv, options)) return 2;
    Checker check(options.outputDir);
    const dim3 cellGrid(kCells / kBlock);
    const dim3 cellBlock(kBlock);

    float* h = check.upload(std::vector<float>(kCells, 1.0f));
    float* fx = check.upload(randomValuesWithEdges(kCells, 0.0f, 6e-5f, 11));
    float* fy = check.upload(randomValuesWithEdges(kCells, 0.0f, 6e-5f, 12));
    launchInitWaterLB(cellGrid, cellBlock, h, fx, fy);
    check.report("init-h", h, kCells);
    check.report("init-fx", fx, kCells);

    // First step: still water with random forces; the previous content of f
    // must not matter.
    float* f = check.upload(randomValuesWithEdges(kCells * kDirections, 0.0f, 1.0f, 13));
    float* forceX = check.upload(randomValuesWithEdges(kCells, 0.0f, 6e-5f, 14));
    float* forceY = check.upload(randomValuesWithEdges(kCells, 0.0f, 6e-5f, 15));
    launchCollision3(cellGrid, cellBlock, f, forceX, forceY, h, kFromStillWater);
    check.report("collide-first-f", f, kCells * kDirections);
    check.report("collide-first-h", h, kCells);

    // Later steps: distributions near still water (0.05 deep), edge values mixed in.
    float* g = check.upload(randomValuesWithEdges(kCells * kDirections, 0.0056f, 0.002f, 16));
    launchCollision3(cellGrid, cellBlock, g, forceX, forceY, h, kFromDistributions);
    check.report("collide-f", g, kCells * kDirections);
    check.report("collide-h", h, kCells);

    // Another relaxation factor, written between two collisions of the same
    // values without a synchronisation: the first still has the factor it was
    // launched with (its hash is collide-f's), the second the new one.
    float* collidedBefore = check.upload(randomValuesWithEdges(kCells * kDirections, 0.0056f, 0.002f, 16));
    float* collidedAfter = check.upload(randomValuesWithEdges(kCells * kDirections, 0.0056f, 0.002f, 16));
    float* depthAfter = check.upload(std::vector<float>(kCells, 0.0f));
    launchCollision3(cellGrid, cellBlock, collidedBefore, forceX, forceY, depthAfter, kFromDistributions);
    check.set(setRelaxationFactor(1.1f));
    launchCollision3(cellGrid, cellBlock, collidedAfter, forceX, forceY, depthAfter, kFromDistributions);
    check.report("collide-before-set-f", collidedBefore, kCells * kDirections);
    check.report("collide-set-omega-f", collidedAfter, kCells * kDirections);
    check.set(setRelaxationFactor(kDefaultRelaxation));

    float* streamed = check.upload(std::vector<float>(kCells * kDirections, 0.0f));
    launchStream(dim3(kWidth / 16, kHeight / 16), dim3(18, 18), g, streamed);
    check.report("stream", streamed, kCells * kDirections);

    launchIncrementForce(cellGrid, cellBlock, forceX);
    launchIncrementForce(cellGrid, cellBlock, forceY);
    check.report("decay-fx", forceX, kCells);
    check.report("decay-fy", forceY, kCells);

    // Drops inside, on edges and corners, of several radii and strengths,
    // over the decayed forces (they overwrite inside their disc).
    struct Drop {
        int x, y;
        float radius, strength;
    };
    const Drop drops[] = {{288, 192, 89.6f, 0.0002f}, {0, 0, 89.6f, 0.0002f},       {575, 383, 89.6f, -0.0003f},
                          {3, 200, 7.9f, 0.001f},     {570, 10, 8.0f, 0.0002f},     {300, 100, 0.5f, 1.0f},
                          {100, 300, 33.3f, 1e-30f},  {-40, 190, 89.6f, 0.0002f}};
    for (const Drop& d : drops) {
        const int k = static_cast<int>(std::floor((d.radius + d.radius) * 0.0625f));
        launchRainDrop(dim3(k + 1, k + 1), dim3(16, 16), d.x, d.y, d.radius, d.strength, forceX, forceY, kWidth,
                       kHeight);
    }
    check.report("rain-fx", forceX, kCells);
    check.report("rain-fy", forceY, kCells);

    float* depth = check.upload(randomValuesWithEdges(kCells, 0.05f, 0.0008f, 17));
    uint32_t* pixels = check.upload(std::vector<uint32_t>(kCells, 0u));
    launchHeightMapToTexture(cellGrid, cellBlock, depth, pixels);
    check.report("pixels", pixels, kCells);
    // The same depths drawn with a narrower range, then the default again.
    check.set(setDepthRange(0.0497f, 0.0501f));
    uint32_t* rangePixels = check.upload(std::vector<uint32_t>(kCells, 0u));
    launchHeightMapToTexture(cellGrid, cellBlock, depth, rangePixels);
    check.set(setDepthRange(kDefaultBlackDepth, kDefaultWhiteDepth));
    check.report("pixels-set-range", rangePixels, kCells);

    // A model run with a drop every fourth step.
    WaterModel* model = createWaterModel(options.modelWidth, options.modelHeight);
    if (model == nullptr) return 1;
    for (int step = 0; step < options.modelSteps; ++step) {
        advanceWater(*model, step > 0);
        if (step % 4 == 0) model->addRainDrop(static_cast<float>((step * 97) % options.modelWidth),
                                              static_cast<float>((step * 61) % options.modelHeight), kDropStrength,
                                              kDropRadius);
    }
    const int modelCells = options.modelWidth * options.modelHeight;
    check.report("model-h", model->h, modelCells);
    check.report("model-f", model->f, modelCells * kDirections);
    destroyWaterModel(model);

    if (check.failed()) {
        std::fprintf(stderr, "kernel cross-check failed\n");
        return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    guardStandardOutput();
    const int status = runCrosscheck(argc, argv);
    return withStandardOutputChecked(status, argc > 0 ? argv[0] : "kernel-crosscheck");
}
