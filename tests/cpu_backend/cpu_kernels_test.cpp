// The CPU backend's launch paths run whole blocks as vectorised loops; they
// must give exactly what the kernels' per-thread code gives, thread by
// thread, for any input (edge values included), in every compiled set of
// the kernels that this processor runs.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "kernels/collision.h"
#include "kernels/forcing.h"
#include "kernels/height_map.h"
#include "kernels/kernel_launch.h"
#include "kernels/stream.h"
#include "cpu_backend/dispatch/instruction_set_choice.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"
#include "tools/random_test_values.h"

namespace {

class CpuKernelPaths : public KernelSetTest {};
INSTANTIATE_FOR_EVERY_KERNEL_SET(CpuKernelPaths);

constexpr int kBlocks = 6;
constexpr int kBlockSize = 576;
constexpr int kCells = kBlocks * kBlockSize;

// Runs a one-dimensional kernel's per-thread code for every thread of a
// launch (by default the shape the application uses), in host memory.
template <typename ThreadBody>
void runEveryThread(ThreadBody body, unsigned blocks = kBlocks, unsigned blockSize = kBlockSize)
{
    for (unsigned b = 0; b < blocks; ++b)
        for (unsigned x = 0; x < blockSize; ++x)
            body(ThreadIndex{{b, 0, 0}, {x, 0, 0}, {blockSize, 1, 1}, {blocks, 1, 1}});
}

// SHALLOW_WATER_CPU_ISA: a set that runs here is taken; anything else falls
// back to the fastest set that runs here (the choice when it is unset),
// after one line saying why.
TEST(CpuKernelSetChoice, TakesARunnableSetAndOtherwiseSaysWhyAndUsesTheFastest)
{
    const std::vector<std::string> sets = cpu_kernels::compiledInstructionSets();
    ASSERT_FALSE(sets.empty());
    EXPECT_TRUE(cpu_kernels::instructionSetSupported(sets.front())) << "the most portable set must run anywhere";
    testing::internal::CaptureStderr();
    const std::string fastest = cpu_kernels::chooseInstructionSet(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(cpu_kernels::instructionSetSupported(fastest)) << fastest;
    // The unset choice passes over a set that runs here only for a faster one
    // before it (avx512 on AMD's Zen 4, where avx2 is faster).
    for (auto later = std::find(sets.begin(), sets.end(), fastest) + 1; later != sets.end(); ++later) {
        if (cpu_kernels::instructionSetSupported(*later)) {
            EXPECT_TRUE(fastest == "avx2" && *later == "avx512") << fastest << " chosen over " << *later;
        }
    }

    testing::internal::CaptureStderr();
    EXPECT_EQ(cpu_kernels::chooseInstructionSet(""), fastest);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (const std::string& set : sets) {
        testing::internal::CaptureStderr();
        const std::string chosen = cpu_kernels::chooseInstructionSet(set.c_str());
        const std::string message = testing::internal::GetCapturedStderr();
        if (cpu_kernels::instructionSetSupported(set)) {
            EXPECT_EQ(chosen, set);
            EXPECT_EQ(message, "");
        } else {
            EXPECT_EQ(chosen, fastest);
            EXPECT_EQ(message, "SHALLOW_WATER_CPU_ISA: this processor cannot run " + set + "; using " + fastest + "\n");
            EXPECT_FALSE(cpu_kernels::useInstructionSet(set));
        }
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(cpu_kernels::chooseInstructionSet("AVX2 "), fastest);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message.rfind("SHALLOW_WATER_CPU_ISA: no instruction set 'AVX2 ' in this build (it has " + sets.front(), 0),
              0u)
        << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_FALSE(cpu_kernels::useInstructionSet("AVX2 "));
}

TEST_P(CpuKernelPaths, CollisionMatchesThePerThreadCodeOnBothFirstAndLaterSteps)
{
    // The application's blocks of 576 cells, and blocks of 100: a chunk of
    // 64 cells and one of 36, which ends in cells too few for a vector group.
    for (const unsigned blockSize : {576u, 100u})
        for (bool fInitialized : {false, true}) {
            SCOPED_TRACE(testing::Message() << "blocks of " << blockSize << ", fInitialized " << fInitialized);
            const unsigned blocks = 7;
            const size_t cells = static_cast<size_t>(blocks) * blockSize;
            // Distributions near still water, so that depth and velocity are
            // mostly ordinary, plus edge values.
            std::vector<float> f = randomValuesWithEdges(cells * 9, 0.0f, 0.01f, 1);
            for (size_t i = 0; i < f.size(); ++i) f[i] = std::fabs(f[i]) + 0.001f;
            std::vector<float> fx = randomValuesWithEdges(cells, 0.0f, 5e-5f, 2);
            std::vector<float> fy = randomValuesWithEdges(cells, 0.0f, 5e-5f, 3);

            std::vector<float> expectedF = f;
            std::vector<float> expectedH(cells);
            runEveryThread(
                [&](const ThreadIndex& t) {
                    collisionThread(t, expectedF.data(), fx.data(), fy.data(), expectedH.data(), fInitialized);
                },
                blocks, blockSize);

            float *dF, *dFx, *dFy, *dH;
            ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dF), f.size() * 4), cudaSuccess);
            ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dFx), cells * 4), cudaSuccess);
            ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dFy), cells * 4), cudaSuccess);
            ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dH), cells * 4), cudaSuccess);
            writeDevice(dF, f);
            writeDevice(dFx, fx);
            writeDevice(dFy, fy);
            launchCollision3(dim3(blocks), dim3(blockSize), dF, dFx, dFy, dH, fInitialized);
            ASSERT_EQ(cudaGetLastError(), cudaSuccess);
            EXPECT_TRUE(sameBits(readDevice(dF, f.size()), expectedF, 1)) << "f";
            EXPECT_TRUE(sameBits(readDevice(dH, cells), expectedH, 1)) << "h";
            for (float* p : {dF, dFx, dFy, dH}) cudaFree(p);
        }
}

TEST_P(CpuKernelPaths, DecayAndPixelKernelsMatchThePerThreadCode)
{
    // The application's blocks; blocks of 99 cells, whose pixel words start
    // and end inside cache lines; the largest blocks a launch allows.
    for (const unsigned blockSize : {576u, 99u, 1024u}) {
        SCOPED_TRACE(testing::Message() << "blocks of " << blockSize);
        const unsigned blocks = 7;
        const size_t cells = static_cast<size_t>(blocks) * blockSize;
        const std::vector<float> force = randomValuesWithEdges(cells, 0.0f, 5e-5f, 4);
        std::vector<float> depth = randomValuesWithEdges(cells, 0.0f, 0.001f, 5);
        for (float& d : depth) d += 0.05f;

        std::vector<float> expectedForce = force;
        std::vector<unsigned> expectedPixels(cells);
        runEveryThread(
            [&](const ThreadIndex& t) {
                decayForceThread(t, expectedForce.data());
                heightMapThread(t, depth.data(), expectedPixels.data());
            },
            blocks, blockSize);

        float *dForce, *dDepth;
        unsigned* dPixels;
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dForce), cells * 4), cudaSuccess);
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dDepth), cells * 4), cudaSuccess);
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dPixels), cells * 4), cudaSuccess);
        writeDevice(dForce, force);
        writeDevice(dDepth, depth);
        launchIncrementForce(dim3(blocks), dim3(blockSize), dForce);
        launchHeightMapToTexture(dim3(blocks), dim3(blockSize), dDepth, dPixels);
        ASSERT_EQ(cudaGetLastError(), cudaSuccess);
        EXPECT_TRUE(sameBits(readDevice(dForce, cells), expectedForce, 1)) << "force";
        EXPECT_EQ(readDevice(dPixels, cells), expectedPixels);
        for (void* p : {static_cast<void*>(dForce), static_cast<void*>(dDepth), static_cast<void*>(dPixels)})
            cudaFree(p);
    }
}

TEST_P(CpuKernelPaths, StreamingMatchesThePerThreadCodeOnGridsOfEveryShape)
{
    // One tile (every cell on a wall or beside one); one row of three tiles
    // (a single interior run per row); tall and narrow; wide, with interior
    // runs pulled in chunks of 32 cells, the last one short, and rows
    // that the workers split between them.
    for (const dim3 grid : {dim3(1, 1), dim3(3, 1), dim3(2, 5), dim3(171, 3)}) {
        SCOPED_TRACE(testing::Message() << "grid " << grid.x << " x " << grid.y);
        const size_t floats = static_cast<size_t>(grid.x) * grid.y * kStreamTile * kStreamTile * 9;
        const std::vector<float> f = randomValuesWithEdges(floats, 0.0f, 1.0f, 6 + grid.x);

        // Every block's threads in two phases around the barrier, in host memory.
        std::vector<float> expected(floats, -1.0f);
        for (unsigned by = 0; by < grid.y; ++by)
            for (unsigned bx = 0; bx < grid.x; ++bx) {
                float fMem[kStreamTileFloats] = {};
                ThreadIndex t{{bx, by, 0}, {0, 0, 0}, {18, 18, 1}, {grid.x, grid.y, 1}};
                for (unsigned phase = 0; phase < 2; ++phase)
                    for (unsigned ty = 0; ty < 18; ++ty)
                        for (unsigned tx = 0; tx < 18; ++tx) {
                            t.threadIdx = Index3{tx, ty, 0};
                            if (phase == 0)
                                streamLoadThread(t, f.data(), fMem);
                            else
                                streamAssembleThread(t, fMem, expected.data());
                        }
            }

        float *dF, *dStream;
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dF), floats * 4), cudaSuccess);
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&dStream), floats * 4), cudaSuccess);
        writeDevice(dF, f);
        launchStream(grid, dim3(18, 18), dF, dStream);
        ASSERT_EQ(cudaGetLastError(), cudaSuccess);
        EXPECT_TRUE(sameBits(readDevice(dStream, floats), expected, 1)) << "fStream";
        cudaFree(dF);
        cudaFree(dStream);
    }
}

}  // namespace
