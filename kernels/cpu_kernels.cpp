// The CPU backend's kernels: each launcher validates the launch like the
// CUDA runtime and then runs the shared per-thread code for every thread of
// every block, blocks spread over all cores. A kernel with a block barrier
// runs each block in phases split at the barrier, with the block's shared
// memory as a local array.
#include <cpu_backend/kernel_launcher.h>

#include "collision.h"
#include "forcing.h"
#include "height_map.h"
#include "init_water.h"
#include "kernel_launch.h"
#include "stream.h"

namespace {

Index3 toIndex(dim3 d)
{
    return Index3{d.x, d.y, d.z};
}

// Calls blockBody(t) once per block, with t holding the block's coordinates
// and the launch's extents (its threadIdx left zero).
template <typename BlockBody>
void forEachBlock(const cpu_runtime::KernelInfo& kernel, dim3 grid, dim3 block, BlockBody blockBody)
{
    if (!cpu_runtime::acceptLaunch(kernel, grid, block)) return;
    const size_t blocksPerPlane = static_cast<size_t>(grid.x) * grid.y;
    const size_t blockCount = blocksPerPlane * grid.z;
    cpu_runtime::runBlocksInParallel(blockCount, [&](size_t first, size_t end) {
        ThreadIndex t{};
        t.gridDim = toIndex(grid);
        t.blockDim = toIndex(block);
        for (size_t b = first; b < end; ++b) {
            t.blockIdx = Index3{static_cast<unsigned>(b % grid.x), static_cast<unsigned>((b / grid.x) % grid.y),
                                static_cast<unsigned>(b / blocksPerPlane)};
            blockBody(t);
        }
    });
}

// Runs threadBody for every thread of the block that t names.
template <typename ThreadBody>
void forEachThread(ThreadIndex t, ThreadBody threadBody)
{
    for (unsigned z = 0; z < t.blockDim.z; ++z)
        for (unsigned y = 0; y < t.blockDim.y; ++y)
            for (unsigned x = 0; x < t.blockDim.x; ++x) {
                t.threadIdx = Index3{x, y, z};
                threadBody(t);
            }
}

// A kernel without barriers: every thread runs straight through.
template <typename ThreadBody>
void launchSimple(const cpu_runtime::KernelInfo& kernel, dim3 grid, dim3 block, ThreadBody threadBody)
{
    forEachBlock(kernel, grid, block, [&](const ThreadIndex& t) { forEachThread(t, threadBody); });
}

}  // namespace

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    launchSimple({"kInitWaterLB", 0}, grid, block,
                 [=](const ThreadIndex& t) { initWaterThread(t, h, fx, fy); });
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    launchSimple({"kCollision3", 0}, grid, block,
                 [=](const ThreadIndex& t) { collisionThread(t, f, fx, fy, h, fInitialized); });
}

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    constexpr size_t tileBytes = kStreamTileFloats * sizeof(float);
    forEachBlock({"kStream", tileBytes}, grid, block, [=](const ThreadIndex& blockIndex) {
        float fMem[kStreamTileFloats];
        forEachThread(blockIndex, [&](const ThreadIndex& t) { streamLoadThread(t, f, fMem); });
        // barrier
        forEachThread(blockIndex, [&](const ThreadIndex& t) { streamAssembleThread(t, fMem, fStream); });
    });
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    launchSimple({"kIncrementForce", 0}, grid, block, [=](const ThreadIndex& t) { incrementForceThread(t, force); });
}

void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height)
{
    launchSimple({"kRainDrop", 0}, grid, block, [=](const ThreadIndex& t) {
        rainDropThread(t, x, y, radius, strength, fx, fy, width, height);
    });
}

void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    launchSimple({"kHeightMapToTexture", 0}, grid, block,
                 [=](const ThreadIndex& t) { heightMapThread(t, h, pixels); });
}
