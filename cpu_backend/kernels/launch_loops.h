// The loops with which the CPU backend runs accepted launches: every thread
// of every block, blocks spread over all cores, as the per-thread code
// expects.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include "kernel_set.h"

#include "cpu_backend/runtime/launch_workers.h"

#include "kernels/kernel_support.h"

namespace CPU_KERNELS {

inline Index3 toIndex(dim3 d)
{
    return Index3{d.x, d.y, d.z};
}

// Calls blockBody(t) once per block, with t holding the block's coordinates
// and the launch's extents (its threadIdx left zero).
template <typename BlockBody>
void forEachBlock(dim3 grid, dim3 block, BlockBody blockBody)
{
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
void runSimple(dim3 grid, dim3 block, ThreadBody threadBody)
{
    forEachBlock(grid, block, [&](const ThreadIndex& t) { forEachThread(t, threadBody); });
}

}  // namespace CPU_KERNELS
