// The CPU backend's kernels without a barrier, launched alone: each runs an
// accepted launch's shared per-thread code for every thread of every block,
// blocks spread over all cores; one-dimensional blocks run as loops over
// their cells that the compiler vectorises (the streaming kernel, which has
// a barrier, is in stream_kernel.cpp).
#include "launch_loops.h"
#include "kernel_set.h"
#include "chunk_collision.h"
#include "streaming_copy.h"
#include "kernels/forcing.h"
#include "kernels/height_map.h"
#include "kernels/init_water.h"

#include <algorithm>

namespace CPU_KERNELS {
namespace {

// In a one-dimensional launch of at most 2^23 threads the 24-bit index
// arithmetic is exact, so block b's threads handle the cells
// b * blockDim .. (b + 1) * blockDim - 1 in order. Such blocks run as plain
// loops over their cells, which the compiler vectorises; any other shape runs
// thread by thread through the same cell code.
bool coversCellsInOrder(dim3 grid, dim3 block)
{
    return grid.y == 1 && grid.z == 1 && block.y == 1 && block.z == 1 &&
           indicesAreExact(static_cast<unsigned long long>(grid.x) * block.x);
}

// cellIndex1D as a function object: passing the function itself would take
// its address and emit a copy of it that every compiled set shares (one of
// them chosen by the linker, whatever its instruction set).
constexpr auto cellOfThread = [](const ThreadIndex& t) { return cellIndex1D(t); };

// A kernel with one thread per cell: cellOf maps a thread to its cell,
// cellBody does the cell's work.
template <typename CellOf, typename CellBody>
void runOneCellPerThread(dim3 grid, dim3 block, CellOf cellOf, CellBody cellBody)
{
    if (!coversCellsInOrder(grid, block)) {
        runSimple(grid, block, [&](const ThreadIndex& t) { cellBody(cellOf(t)); });
        return;
    }
    forEachBlock(grid, block, [&](const ThreadIndex& t) {
        const int first = static_cast<int>(t.blockIdx.x * t.blockDim.x);
        const int end = first + static_cast<int>(t.blockDim.x);
        for (int i = first; i < end; ++i) cellBody(i);
    });
}

// Collides `count` consecutive cells from `first` on in place, in chunks.
void collideCells(float* f, const float* fx, const float* fy, float* h, bool fInitialized, size_t first, int count)
{
    for (int done = 0; done < count; done += kCollisionChunk) {
        const size_t start = first + static_cast<size_t>(done);
        const int chunk = std::min(kCollisionChunk, count - done);
        float* const cells = f + start * kDirections;
        collideChunk(
            fInitialized, [&](float* rows) { cellsToChunk(cells, chunk, rows); return chunkRows(rows); },
            [&](const float* rows) { chunkToCells(rows, chunk, cells); }, fx + start, fy + start, h + start, chunk);
    }
}

}  // namespace

void runInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    runOneCellPerThread(grid, block, cellOfThread, [=](int i) { initWaterCell(i, h, fx, fy); });
}

void runCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    if (!coversCellsInOrder(grid, block)) {
        runSimple(grid, block, [=](const ThreadIndex& t) { collisionThread(t, f, fx, fy, h, fInitialized); });
        return;
    }
    forEachBlock(grid, block, [=](const ThreadIndex& t) {
        const int cells = static_cast<int>(t.blockDim.x);
        collideCells(f, fx, fy, h, fInitialized, static_cast<size_t>(t.blockIdx.x) * cells, cells);
    });
}

void runIncrementForce(dim3 grid, dim3 block, float* force)
{
    runOneCellPerThread(grid, block, cellOfThread, [=](int i) { decayForceCell(i, force); });
}

void runRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                 int height)
{
    runSimple(grid, block, [=](const ThreadIndex& t) { rainDropThread(t, x, y, radius, strength, fx, fy, width, height); });
}

void runHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    // Pixels are only written, so a block's words are made in a small buffer
    // and sent on with streaming stores: the target's lines are then never
    // read first, a third less memory traffic.
    constexpr unsigned kStagedWords = 1024;  // the most threads a block may have
    const DepthRange range = currentDepthRange();  // read once for the launch
    if (!coversCellsInOrder(grid, block) || block.x > kStagedWords) {
        runOneCellPerThread(grid, block, cellOfThread, [=](int i) { heightMapCell(i, h, pixels, range); });
        return;
    }
    const int cells = static_cast<int>(block.x);
    cpu_runtime::runBlocksInParallel(grid.x, [=](size_t firstBlock, size_t endBlock) {
        unsigned int words[kStagedWords];
        for (size_t b = firstBlock; b < endBlock; ++b) {
            const int first = static_cast<int>(b) * cells;
            for (int i = 0; i < cells; ++i) heightMapCell(i, h + first, words, range);
            copyWithStreamingStores(pixels + first, words, static_cast<size_t>(cells) * sizeof(unsigned int));
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
}

}  // namespace CPU_KERNELS
