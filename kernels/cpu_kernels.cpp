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

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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

// In a one-dimensional launch of at most 2^23 threads the 24-bit index
// arithmetic is exact, so block b's threads handle the cells
// b * blockDim .. (b + 1) * blockDim - 1 in order. Such blocks run as plain
// loops over their cells, which the compiler vectorises; any other shape runs
// thread by thread through the same cell code.
bool coversCellsInOrder(dim3 grid, dim3 block)
{
    return grid.y == 1 && grid.z == 1 && block.y == 1 && block.z == 1 &&
           static_cast<unsigned long long>(grid.x) * block.x <= (1u << 23);
}

// A kernel with one thread per cell: cellOf maps a thread to its cell,
// cellBody does the cell's work.
template <typename CellOf, typename CellBody>
void launchOneCellPerThread(const cpu_runtime::KernelInfo& kernel, dim3 grid, dim3 block, CellOf cellOf,
                            CellBody cellBody)
{
    if (!coversCellsInOrder(grid, block)) {
        launchSimple(kernel, grid, block, [&](const ThreadIndex& t) { cellBody(cellOf(t)); });
        return;
    }
    forEachBlock(kernel, grid, block, [&](const ThreadIndex& t) {
        const int first = static_cast<int>(t.blockIdx.x * t.blockDim.x);
        const int end = first + static_cast<int>(t.blockDim.x);
        for (int i = first; i < end; ++i) cellBody(i);
    });
}

// The collision of a block runs in chunks of this many consecutive cells,
// whose values then stay in the L1 cache from reading to writing back.
constexpr int kCollisionChunk = 64;

// Direction k of cell c in a chunk's transposed copy of its distributions
// (row k holds every cell's direction k), so that the collision of
// consecutive cells reads and writes consecutive floats. The fixed row
// length lets the compiler see that the rows never overlap.
struct TransposedCell {
    float* cell;
    float& operator[](int k) const { return cell[k * kCollisionChunk]; }
};

// Collides `count` consecutive cells, at most a chunk. The flag is a
// template argument so that the compiler drops the untaken branch and
// vectorises across cells; the fields never overlap, and saying so spares
// the loop its alias checks.
template <bool kInitialized>
void collideChunk(float* values, const float* __restrict forceX, const float* __restrict forceY,
                  float* __restrict depths, int count)
{
    float transposed[9 * kCollisionChunk];
    if (kInitialized) {
        for (int c = 0; c < count; ++c)
            for (int k = 0; k < 9; ++k) transposed[k * kCollisionChunk + c] = values[c * 9 + k];
    }
    for (int c = 0; c < count; ++c)
        depths[c] = collideCell(TransposedCell{transposed + c}, forceX[c], forceY[c], kInitialized);
    for (int c = 0; c < count; ++c)
        for (int k = 0; k < 9; ++k) values[c * 9 + k] = transposed[k * kCollisionChunk + c];
}

}  // namespace

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    launchOneCellPerThread({"kInitWaterLB", 0}, grid, block, cellIndex1D,
                           [=](int i) { initWaterCell(i, h, fx, fy); });
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    const cpu_runtime::KernelInfo kernel{"kCollision3", 0};
    if (!coversCellsInOrder(grid, block)) {
        launchSimple(kernel, grid, block,
                     [=](const ThreadIndex& t) { collisionThread(t, f, fx, fy, h, fInitialized); });
        return;
    }
    forEachBlock(kernel, grid, block, [=](const ThreadIndex& t) {
        const int cells = static_cast<int>(t.blockDim.x);
        const int first = static_cast<int>(t.blockIdx.x) * cells;
        for (int start = first; start < first + cells; start += kCollisionChunk) {
            const int count = std::min(kCollisionChunk, first + cells - start);
            float* values = f + static_cast<size_t>(start) * 9;
            if (fInitialized)
                collideChunk<true>(values, fx + start, fy + start, h + start, count);
            else
                collideChunk<false>(values, fx + start, fy + start, h + start, count);
        }
    });
}

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
                const int shift = static_cast<int>(cell[k]) - (tileRowStart(static_cast<int>(ty)) + static_cast<int>(tx) * 9 + k);
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

    // A worker takes a run of up to kStreamRun blocks of one block row. It
    // first loads all their tiles, one grid row at a time, so that the reads
    // of f run through memory in long sequences instead of eighteen short
    // ones per block; then, past the barrier, each block assembles its cells a tile row at a time, and
    // each tile row's sixteen cells, one stretch of fStream, are written out
    // in one go.
    static const InteriorPull interiorPull = learnInteriorPull();
    const unsigned runsPerRow = (grid.x + kStreamRun - 1) / kStreamRun;
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(grid.y) * runsPerRow, [=](size_t firstRun, size_t endRun) {
        // Each worker keeps its tiles from launch to launch.
        thread_local std::vector<float> tiles(static_cast<size_t>(kStreamRun) * kStreamTileFloats);
        ThreadIndex t{};
        t.gridDim = toIndex(grid);
        t.blockDim = toIndex(block);
        for (size_t run = firstRun; run < endRun; ++run) {
            const unsigned by = static_cast<unsigned>(run / runsPerRow);
            const unsigned firstBx = static_cast<unsigned>(run % runsPerRow) * kStreamRun;
            const unsigned endBx = std::min(firstBx + kStreamRun, grid.x);
            for (unsigned ty = 0; ty < kStreamTileWithBorder; ++ty)
                for (unsigned bx = firstBx; bx < endBx; ++bx) {
                    t.blockIdx = Index3{bx, by, 0};
                    float* fMem = tiles.data() + static_cast<size_t>(bx - firstBx) * kStreamTileFloats;
                    if (tileRowInsideGrid(t, ty)) {
                        // The row's 18 threads copy 18 consecutive cells: one
                        // stretch of floats in f and in the tile alike.
                        t.threadIdx = Index3{0, ty, 0};
                        std::memcpy(fMem + ty * kStreamTileWithBorder * 9, f + streamSourceOffset(t),
                                    kStreamTileWithBorder * 9 * sizeof(float));
                        continue;
                    }
                    for (unsigned tx = 0; tx < kStreamTileWithBorder; ++tx) {
                        t.threadIdx = Index3{tx, ty, 0};
                        streamLoadThread(t, f, fMem);
                    }
                }
            // barrier
            for (unsigned bx = firstBx; bx < endBx; ++bx) {
                t.blockIdx = Index3{bx, by, 0};
                const float* fMem = tiles.data() + static_cast<size_t>(bx - firstBx) * kStreamTileFloats;
                const bool awayFromSides = interiorPull.learnt && bx > 0 && bx + 1 < grid.x;
                float row[kStreamRowFloats];
                for (unsigned ty = 0; ty < kStreamTile; ++ty) {
                    const unsigned y = by * kStreamTile + ty;
                    if (awayFromSides && y > 0 && y + 1 < grid.y * kStreamTile) {
                        pullInteriorRow(interiorPull, fMem, static_cast<int>(ty), row);
                    } else {
                        for (unsigned tx = 0; tx < kStreamTile; ++tx) {
                            t.threadIdx = Index3{tx, ty, 0};
                            streamPullCell(t, fMem, row + tx * 9);
                        }
                    }
                    t.threadIdx = Index3{0, ty, 0};
                    storeBypassingCache(fStream + streamTargetOffset(t), row, kStreamRowFloats);
                }
            }
        }
        finishStoresBypassingCache();
    });
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    launchOneCellPerThread({"kIncrementForce", 0}, grid, block, cellIndex1D,
                           [=](int i) { incrementForceCell(i, force); });
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
    launchOneCellPerThread({"kHeightMapToTexture", 0}, grid, block, cellIndex1D,
                           [=](int i) { heightMapCell(i, h, pixels); });
}
