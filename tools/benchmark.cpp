// Times are medians over many frames, taken with CUDA events: on the GPU
// they measure the device's work, on the CPU backend (where recording an
// event first runs every queued launch) they read a monotonic clock. The
// ceiling is a device-to-device copy of one distribution array, timed in
// every frame; on the CPU backend it uses every core.
//
// A frame is timed twice: kernel by kernel, with an event between every two
// launches, and as the program runs it, with events only around the frame.
// On the GPU both run the same launches. The CPU backend runs the frame's
// collision, streaming and force decays as one pass over memory when
// nothing comes between them, so its frame moves less memory than the
// kernels one by one do; its row is measured against its own traffic.
#include "benchmark.h"

#include <cuda_runtime.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "kernels/device_constants.h"
#include "model/simulation_step.h"
#include "model/water_model.h"
#if defined(SHALLOW_WATER_CPU_BACKEND)
#include <cpu_backend.h>
#endif

namespace {

constexpr int kWarmUpFrames = 10;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Events around each timed operation of one frame.
class Stopwatch {
public:
    explicit Stopwatch(int marks) : events_(static_cast<size_t>(marks), nullptr)
    {
        for (cudaEvent_t& event : events_) ok_ = checkCudaStatus(cudaEventCreate(&event)) && ok_;
    }
    ~Stopwatch()
    {
        for (cudaEvent_t event : events_)
            if (event != nullptr) cudaEventDestroy(event);
    }
    bool ok() const { return ok_; }
    void mark(int index) { ok_ = checkCudaStatus(cudaEventRecord(events_[static_cast<size_t>(index)])) && ok_; }
    // Milliseconds between mark `from` and mark `to`, once the last has passed.
    double elapsed(int from, int to)
    {
        float ms = 0.0f;
        ok_ = checkCudaStatus(cudaEventSynchronize(events_[static_cast<size_t>(to)])) &&
              checkCudaStatus(cudaEventElapsedTime(&ms, events_[static_cast<size_t>(from)],
                                                   events_[static_cast<size_t>(to)])) &&
              ok_;
        return ms;
    }

private:
    std::vector<cudaEvent_t> events_;
    bool ok_ = true;
};

// Two device buffers for the ceiling: a copy of one distribution array.
class CopyBuffers {
public:
    explicit CopyBuffers(size_t bytes) : bytes_(bytes)
    {
        ok_ = checkCudaStatus(cudaMalloc(&source_, bytes)) && checkCudaStatus(cudaMalloc(&target_, bytes)) &&
              checkCudaStatus(cudaMemset(source_, 0x3c, bytes)) && checkCudaStatus(cudaMemset(target_, 0, bytes));
    }
    ~CopyBuffers()
    {
        cudaFree(source_);
        cudaFree(target_);
    }
    bool copy() { return ok_ = ok_ && checkCudaStatus(cudaMemcpy(target_, source_, bytes_, cudaMemcpyDeviceToDevice)); }
    bool ok() const { return ok_; }
    size_t bytes() const { return bytes_; }

private:
    size_t bytes_;
    void* source_ = nullptr;
    void* target_ = nullptr;
    bool ok_ = false;
};

// Bytes each kernel must move per cell: collision reads 9 + 2 floats and
// writes 9 + 1, streaming reads and writes 9, each of the two decays reads
// and writes 1, the pixel kernel reads 1 float and writes 1 word.
constexpr double kCollisionBytes = 84;
constexpr double kStreamingBytes = 72;
constexpr double kDecayBytes = 16;
constexpr double kPixelBytes = 8;
constexpr double kKernelByKernelFrameBytes = kCollisionBytes + kStreamingBytes + kDecayBytes + kPixelBytes;
// The CPU backend's one pass, had it read the previous collided values and
// both force fields and written the new collided values, the depth and the
// decayed forces; then the pixels: 9 + 2 floats read, 9 + 1 + 2 written,
// plus 8. What it moves is less (onePassTraffic).
constexpr double kOnePassFrameBytes = 44 + 48 + kPixelBytes;

// Step passes the CPU backend has run so far (none on the GPU).
unsigned long long stepPassesRun()
{
#if defined(SHALLOW_WATER_CPU_BACKEND)
    return cpu_kernels::stepPassesRun();
#else
    return 0;
#endif
}

// Bytes and cells that the CPU backend's one-pass steps have moved so far,
// counted by the pass from the rows and force lines it touched: it
// skips the force lines known to hold only +0.0.
struct Traffic {
    double bytes = 0;
    double cells = 0;
};

Traffic onePassTraffic()
{
#if defined(SHALLOW_WATER_CPU_BACKEND)
    const cpu_kernels::StepPassTraffic traffic = cpu_kernels::stepPassTraffic();
    return {static_cast<double>(traffic.bytes), static_cast<double>(traffic.cells)};
#else
    return {};
#endif
}

struct Row {
    const char* name;
    double ms;
    double bytesPerCell;  // memory the kernel must move per cell; 0: not bandwidth-bound
};

}  // namespace

bool runBenchmark(WaterModel& model, unsigned int* pixels, int frames, int32_t& frameCounter)
{
    const double cells = static_cast<double>(model.cellCount());
    for (int i = 0; i < kWarmUpFrames; ++i) {
        advanceOneStep(model, frameCounter);
        model.writeDepthPixels(pixels);
    }

    // Marks: 0 collide 1 stream (and swap) 2 decay 3 drop 4 pixels 5, then
    // two whole frames as the window makes them, 5 to 6 and 6 to 7 (the
    // second timed), then the ceiling's copy, 7 to 8: measured in every
    // frame, so that its median covers the same time as the kernels' (a
    // shared machine's bandwidth comes and goes).
    const unsigned long long onePassBefore = stepPassesRun();
    CopyBuffers ceiling(static_cast<size_t>(model.cellCount()) * kDirections * sizeof(float));
    ceiling.copy();  // the first copy also touches the pages
    Stopwatch watch(9);
    std::vector<double> collide, stream, decay, drop, depthPixels, kernelByKernel, frame, copy;
    Traffic asRun;  // what the timed frames as run moved
    for (int i = 0; i < frames && watch.ok() && ceiling.ok(); ++i) {
        // The CPU backend's frames as run leave the distributions in an
        // order of their own, which the kernels one by one do not read: a
        // copy from f puts them back in the launches' order, untimed. The
        // first frame as run after the kernels one by one reads that order;
        // the second, timed, continues from the first, as every frame of a
        // run does.
        float firstValue = 0.0f;
        checkCudaStatus(cudaMemcpy(&firstValue, model.f, sizeof firstValue, cudaMemcpyDeviceToHost));
        watch.mark(0);
        model.collide(kFromDistributions);
        watch.mark(1);
        model.stream();
        model.swapDistributions();
        watch.mark(2);
        model.decayForces();
        watch.mark(3);
        model.addRainDrop(static_cast<float>(model.width / 2), static_cast<float>(model.height / 2), kDropStrength,
                          kDropRadius);
        watch.mark(4);
        model.writeDepthPixels(pixels);
        watch.mark(5);
        advanceOneStep(model, frameCounter);
        model.writeDepthPixels(pixels);
        watch.mark(6);
        const Traffic before = onePassTraffic();
        advanceOneStep(model, frameCounter);
        model.writeDepthPixels(pixels);
        watch.mark(7);
        asRun.bytes += onePassTraffic().bytes - before.bytes;
        asRun.cells += onePassTraffic().cells - before.cells;
        ceiling.copy();
        watch.mark(8);
        collide.push_back(watch.elapsed(0, 1));
        stream.push_back(watch.elapsed(1, 2));
        decay.push_back(watch.elapsed(2, 3));
        drop.push_back(watch.elapsed(3, 4));
        depthPixels.push_back(watch.elapsed(4, 5));
        kernelByKernel.push_back(watch.elapsed(0, 5));
        frame.push_back(watch.elapsed(6, 7));
        copy.push_back(watch.elapsed(7, 8));
    }
    if (!watch.ok() || !ceiling.ok() || !checkLastCudaError()) return false;
    // Every timed frame ran in one pass, or none did (a drop can only fall
    // after the decays, which complete the frame's step).
    const bool onePass = stepPassesRun() - onePassBefore >= 2ull * static_cast<unsigned long long>(frames);
    const size_t copyBytes = ceiling.bytes();
    const double copyMs = median(copy);

    cudaDeviceProp properties{};
    int device = 0;
    cudaGetDevice(&device);
    cudaGetDeviceProperties(&properties, device);
    const double ceilingGBs = 2.0 * static_cast<double>(copyBytes) / (copyMs * 1e6);

    // The bytes a cell moved in the frames as run, pixels included.
    const double movedBytes = asRun.cells > 0 ? asRun.bytes / asRun.cells + kPixelBytes : kOnePassFrameBytes;
    const Row rows[] = {
        {"collision", median(collide), kCollisionBytes},
        {"streaming", median(stream), kStreamingBytes},
        {"force decay (fx, fy)", median(decay), kDecayBytes},
        {"rain drop (one)", median(drop), 0},
        {"depth to pixels", median(depthPixels), kPixelBytes},
        {"frame, kernel by kernel", median(kernelByKernel), kKernelByKernelFrameBytes},
        {"frame as run", median(frame), onePass ? movedBytes : kKernelByKernelFrameBytes},
    };
    std::printf("\nBenchmark on %s: %d x %d cells, median of %d frames after %d warm-up frames\n", properties.name,
                model.width, model.height, frames, kWarmUpFrames);
#if defined(SHALLOW_WATER_CPU_BACKEND)
    // The CPU figures depend on which compiled set of the kernels ran.
    std::string sets;
    for (const std::string& set : cpu_kernels::compiledInstructionSets()) sets += (sets.empty() ? "" : ", ") + set;
    std::printf("CPU kernels: %s (built: %s)\n", cpu_kernels::activeInstructionSet().c_str(), sets.c_str());
#endif
    std::printf("Ceiling: device-to-device copy of %.1f MB in %.3f ms = %.1f GB/s (bytes read + written; median,\n"
                "timed in every frame)\n\n",
                copyBytes / 1e6, copyMs, ceilingGBs);
    // "% of copy" is also the floor of the row's own traffic (its bytes at
    // the copy's bandwidth) as a share of its time.
    std::printf("%-24s %10s %12s %8s %9s %10s %10s\n", "step", "ms", "Mcells/s", "B/cell", "GB/s", "% of copy",
                "floor ms");
    for (const Row& row : rows) {
        if (row.bytesPerCell == 0) {
            std::printf("%-24s %10.3f %12s %8s %9s %10s %10s\n", row.name, row.ms, "-", "-", "-", "-", "-");
            continue;
        }
        const double gbs = row.bytesPerCell * cells / (row.ms * 1e6);
        std::printf("%-24s %10.3f %12.1f %8.1f %9.1f %9.0f%% %10.3f\n", row.name, row.ms, cells / (row.ms * 1e3),
                    row.bytesPerCell, gbs, 100.0 * gbs / ceilingGBs, row.bytesPerCell * cells / (ceilingGBs * 1e6));
    }
    std::printf("(a frame is the collision, streaming, decay, the rain of the frame and the pixels;\n"
                " a rain drop touches a 192 x 192 square, not the grid, so it has no bandwidth figure)\n");
    if (onePass) {
        const double frameMs = median(frame);
        std::printf("(frame as run: the collision, streaming and decays ran as one pass over memory, which\n"
                    " moved %.1f bytes a cell with the pixels in the timed frames, counted from the rows and force\n"
                    " segments it touched, where the kernels one by one move %.0f; counted as %.0f bytes, with\n"
                    " every force segment read and written, its floor would be %.3f ms, %.0f%% of its time)\n",
                    movedBytes, kKernelByKernelFrameBytes, kOnePassFrameBytes,
                    kOnePassFrameBytes * cells / (ceilingGBs * 1e6),
                    100.0 * kOnePassFrameBytes * cells / (ceilingGBs * 1e6) / frameMs);
    }
    return true;
}
