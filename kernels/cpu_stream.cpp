// The CPU backend's streaming kernel. Its blocks meet at a barrier between
// loading their tiles and assembling their cells, so the two phases run one
// after the other over a run of blocks. Streaming only moves data, so the
// phases are arranged for the memory: tiles are loaded one grid row at a
// time across a whole run of blocks (long sequential reads of f instead of
// eighteen short ones per block), and each tile row's sixteen cells, one
// stretch of fStream, are written with streaming stores.
#include "cpu_launch_loops.h"
#include "kernel_launch.h"
#include "stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

using namespace cpu_kernels;

// True when all 18 cells of tile row `ty` of the block lie inside the grid.
bool tileRowInsideGrid(const ThreadIndex& t, unsigned ty)
{
    const int width = kStreamTile * static_cast<int>(t.gridDim.x);
    const int height = kStreamTile * static_cast<int>(t.gridDim.y);
    const int firstColumn = kStreamTile * static_cast<int>(t.blockIdx.x) - 1;
    const int y = kStreamTile * static_cast<int>(t.blockIdx.y) + static_cast<int>(ty) - 1;
    return y >= 0 && y < height && firstColumn >= 0 && firstColumn + kStreamTileWithBorder <= width;
}

// Where the streamed values of a tile row come from, learnt from the kernel's
// own per-thread pull. For cells away from the grid's edges, value j of a
// tile row's 16 cells (16 x 9 floats) is tile float rowStart + j +
// shift[j % 9], rowStart being the row's first own cell: each direction
// pulls from one fixed neighbour. Running the pull on a tile whose every
// float holds its own position reveals the nine shifts, so that the row is
// assembled with nine plain copies per cell and no edge tests.
struct InteriorPull {
    int shift[9];
    bool learnt;  // false if the pull did not follow that pattern
};

constexpr int kStreamRowFloats = kStreamTile * 9;

int tileRowStart(int ty)
{
    return ((ty + 1) * kStreamTileWithBorder + 1) * 9;
}

InteriorPull learnInteriorPull()
{
    InteriorPull pull{{}, true};
    std::vector<float> positions(kStreamTileFloats);
    for (int i = 0; i < kStreamTileFloats; ++i) positions[static_cast<size_t>(i)] = static_cast<float>(i);
    // The middle block of a 3 x 3 grid has no cell on the grid's edges.
    ThreadIndex t{{1, 1, 0}, {0, 0, 0}, {kStreamTileWithBorder, kStreamTileWithBorder, 1}, {3, 3, 1}};
    bool seen[9] = {};
    for (unsigned ty = 0; ty < kStreamTile; ++ty)
        for (unsigned tx = 0; tx < kStreamTile; ++tx) {
            t.threadIdx = Index3{tx, ty, 0};
            float cell[9];
            streamPullCell(t, positions.data(), cell);
            for (int k = 0; k < 9; ++k) {
                const int own = tileRowStart(static_cast<int>(ty)) + static_cast<int>(tx) * 9 + k;
                const int shift = static_cast<int>(cell[k]) - own;
                if (seen[k] && pull.shift[k] != shift) pull.learnt = false;
                seen[k] = true;
                pull.shift[k] = shift;
            }
        }
    return pull;
}

// Assembles tile row ty of a block none of whose cells lie on the grid's
// edges.
void pullInteriorRow(const InteriorPull& pull, const float* fMem, int ty, float* __restrict row)
{
    const float* start = fMem + tileRowStart(ty);
    for (int cell = 0; cell < kStreamRowFloats; cell += 9)
        for (int k = 0; k < 9; ++k) row[cell + k] = start[cell + k + pull.shift[k]];
}

// Blocks of one block row whose tiles the CPU loads together: a whole block
// row of the application's grid. Longer runs of f read in sequence did
// better than shorter ones whose tiles would stay in the L2 cache.
constexpr unsigned kStreamRun = 168;

// Copies whole cache lines to memory without reading them into the cache
// first, as a large copy does: the target is written, never read.
void storeBypassingCache(float* target, const float* source, int floats)
{
    const auto address = reinterpret_cast<uintptr_t>(target);
#if defined(__AVX512F__)
    if (address % 64 == 0 && floats % 16 == 0) {
        for (int i = 0; i < floats; i += 16) _mm512_stream_ps(target + i, _mm512_loadu_ps(source + i));
        return;
    }
#endif
#if defined(__AVX__)
    if (address % 32 == 0 && floats % 8 == 0) {
        for (int i = 0; i < floats; i += 8) _mm256_stream_ps(target + i, _mm256_loadu_ps(source + i));
        return;
    }
#endif
#if defined(__SSE2__)
    if (address % 16 == 0 && floats % 4 == 0) {
        for (int i = 0; i < floats; i += 4) _mm_stream_ps(target + i, _mm_loadu_ps(source + i));
        return;
    }
#endif
    std::memcpy(target, source, static_cast<size_t>(floats) * sizeof(float));
}

void finishStoresBypassingCache()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// Blocks firstBx .. endBx - 1 of block row by, and their tiles.
struct TileRun {
    dim3 grid;
    dim3 block;
    unsigned by;
    unsigned firstBx;
    unsigned endBx;
    float* tiles;  // one tile per block, in order

    float* tileOf(unsigned bx) const { return tiles + static_cast<size_t>(bx - firstBx) * kStreamTileFloats; }
    ThreadIndex thread(unsigned bx, unsigned tx, unsigned ty) const
    {
        return ThreadIndex{{bx, by, 0}, {tx, ty, 0}, toIndex(block), toIndex(grid)};
    }
};

// The load phase of every block of the run, one tile row across all of them
// at a time.
void loadTiles(const TileRun& run, const float* f)
{
    for (unsigned ty = 0; ty < kStreamTileWithBorder; ++ty)
        for (unsigned bx = run.firstBx; bx < run.endBx; ++bx) {
            float* fMem = run.tileOf(bx);
            const ThreadIndex first = run.thread(bx, 0, ty);
            if (tileRowInsideGrid(first, ty)) {
                // The row's 18 threads copy 18 consecutive cells: one stretch
                // of floats in f and in the tile alike.
                std::memcpy(fMem + ty * kStreamTileWithBorder * 9, f + streamSourceOffset(first),
                            kStreamTileWithBorder * 9 * sizeof(float));
                continue;
            }
            for (unsigned tx = 0; tx < kStreamTileWithBorder; ++tx) streamLoadThread(run.thread(bx, tx, ty), f, fMem);
        }
}

// The assembly phase of every block of the run, a tile row at a time.
void assembleTiles(const TileRun& run, const InteriorPull& interiorPull, float* fStream)
{
    const unsigned height = run.grid.y * kStreamTile;
    for (unsigned bx = run.firstBx; bx < run.endBx; ++bx) {
        const float* fMem = run.tileOf(bx);
        const bool awayFromSides = interiorPull.learnt && bx > 0 && bx + 1 < run.grid.x;
        float row[kStreamRowFloats];
        for (unsigned ty = 0; ty < kStreamTile; ++ty) {
            const unsigned y = run.by * kStreamTile + ty;
            if (awayFromSides && y > 0 && y + 1 < height) {
                pullInteriorRow(interiorPull, fMem, static_cast<int>(ty), row);
            } else {
                for (unsigned tx = 0; tx < kStreamTile; ++tx) streamPullCell(run.thread(bx, tx, ty), fMem, row + tx * 9);
            }
            storeBypassingCache(fStream + streamTargetOffset(run.thread(bx, 0, ty)), row, kStreamRowFloats);
        }
    }
}

}  // namespace

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    const cpu_runtime::KernelInfo kernel{"kStream", kStreamTileFloats * sizeof(float)};
    const bool tileShaped = block.x == kStreamTileWithBorder && block.y == kStreamTileWithBorder && block.z == 1;
    if (!tileShaped || grid.z != 1) {
        forEachBlock(kernel, grid, block, [=](const ThreadIndex& blockIndex) {
            float fMem[kStreamTileFloats];
            forEachThread(blockIndex, [&](const ThreadIndex& t) { streamLoadThread(t, f, fMem); });
            // barrier
            forEachThread(blockIndex, [&](const ThreadIndex& t) { streamAssembleThread(t, fMem, fStream); });
        });
        return;
    }
    if (!cpu_runtime::acceptLaunch(kernel, grid, block)) return;

    // A worker takes runs of up to kStreamRun blocks of one block row: it
    // loads all their tiles, then (past the barrier) assembles them.
    static const InteriorPull interiorPull = learnInteriorPull();
    const unsigned runsPerRow = (grid.x + kStreamRun - 1) / kStreamRun;
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(grid.y) * runsPerRow, [=](size_t firstRun, size_t endRun) {
        // Each worker keeps its tiles from launch to launch.
        thread_local std::vector<float> tiles(static_cast<size_t>(kStreamRun) * kStreamTileFloats);
        for (size_t run = firstRun; run < endRun; ++run) {
            const unsigned by = static_cast<unsigned>(run / runsPerRow);
            const unsigned firstBx = static_cast<unsigned>(run % runsPerRow) * kStreamRun;
            const unsigned endBx = std::min(firstBx + kStreamRun, grid.x);
            const TileRun tileRun{grid, block, by, firstBx, endBx, tiles.data()};
            loadTiles(tileRun, f);
            // barrier
            assembleTiles(tileRun, interiorPull, fStream);
        }
        finishStoresBypassingCache();
    });
}
