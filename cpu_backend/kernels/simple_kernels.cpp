// The CPU backend's kernels without a barrier: each runs an accepted
// launch's shared per-thread code for every thread of every block, blocks
// spread over all cores (the streaming kernel, which has a barrier, is in
// stream_kernel.cpp).
#include "cell_transpose.h"
#include "launch_loops.h"
#include "kernel_set.h"
#include "row_passes.h"
#include "streaming_copy.h"
#include "kernels/collision.h"
#include "kernels/forcing.h"
#include "kernels/height_map.h"
#include "kernels/init_water.h"

#include "cpu_backend/memory_copy.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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
           static_cast<unsigned long long>(grid.x) * block.x <= (1u << 23);
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

// The chunks whose distributions are asked for ahead of the collision
// (below), and the cells collided between two requests: one vector of 16
// cells, whose values fill nine cache lines.
constexpr int kFetchChunksAhead = 2;
constexpr int kCellsPerFetch = 16;

// Where a chunk's collided values go: in cell order to `cells` (their own
// place, or another), in direction-major order to `directions` (value k of
// cell c at directions[k * stride + c]), or both; null where not wanted.
struct CollidedChunk {
    float* cells;
    float* directions;
    size_t stride;
};

// Collides `count` consecutive cells, at most a chunk, from `values` to
// `out`. The flag is a template argument so that the compiler drops the
// untaken branch and vectorises across cells; the fields never overlap,
// and saying so spares the loop its alias checks.
//
// `ahead`, unless null, is the distributions of a chunk still to come,
// asked for from memory a few lines at a time while this one computes.
// Without it each chunk's reads wait on memory, since the hardware's own
// prefetch does not run far enough ahead of a loop that spends this long
// on each line; asked for all at once, the requests stall on the core's
// few outstanding misses. Spread this way, two chunks ahead, the frame
// took 0.89 times as long as with each chunk asked for at once, one chunk
// ahead, on a 2-core Xeon (docs/performance.md). `alongside`, unless null,
// streams a segment of another row after each vector of cells, so that
// its streaming stores drain while the next cells compute.
//
// With kForcesZero both forces are known to be +0.0 everywhere in the chunk
// and are not read: the collision takes them as constants, and the
// compiler drops the force terms' products, which then add only a zero of
// known sign (the same bits as the products of +0.0 read from memory).
template <bool kInitialized, bool kForcesZero>
void collideChunk(const float* values, const CollidedChunk& out, const float* __restrict forceX,
                  const float* __restrict forceY, float* __restrict depths, int count, const float* ahead,
                  RowStreamer* alongside)
{
    alignas(64) float transposed[9 * kCollisionChunk];
    // Whole groups of cells move with vector permutes, the rest one by one.
    const int grouped = count - count % kTransposeCells;
    if (kInitialized) {
        for (int c = 0; c < grouped; c += kTransposeCells)
            cellsToRows(values + c * 9, transposed + c, kCollisionChunk);
        for (int c = grouped; c < count; ++c)
            for (int k = 0; k < 9; ++k) transposed[k * kCollisionChunk + c] = values[c * 9 + k];
    }
    for (int part = 0; part < count; part += kCellsPerFetch) {
        if (ahead != nullptr) {
            const char* lines = reinterpret_cast<const char*>(ahead + part * 9);
            for (int line = 0; line < kCellsPerFetch * 9 * static_cast<int>(sizeof(float)); line += 64)
                __builtin_prefetch(lines + line, 0, 3);
        }
        const int end = std::min(part + kCellsPerFetch, count);
        for (int c = part; c < end; ++c)
            depths[c] = collideCell(TransposedCell{transposed + c}, kForcesZero ? 0.0f : forceX[c],
                                    kForcesZero ? 0.0f : forceY[c], kInitialized);
        if (alongside != nullptr) alongside->streamNextSegment();
    }
    if (out.directions != nullptr)
        for (int k = 0; k < 9; ++k) {
            float* to = out.directions + k * out.stride;
            const float* from = transposed + k * kCollisionChunk;
            // A whole chunk's fixed size is copied inline, without a library call.
            if (count == kCollisionChunk)
                std::memcpy(to, from, kCollisionChunk * sizeof(float));
            else
                std::memcpy(to, from, static_cast<size_t>(count) * sizeof(float));
        }
    if (out.cells == nullptr) return;
    for (int c = 0; c < grouped; c += kTransposeCells)
        rowsToCells(transposed + c, kCollisionChunk, out.cells + c * 9);
    for (int c = grouped; c < count; ++c)
        for (int k = 0; k < 9; ++k) out.cells[c * 9 + k] = transposed[k * kCollisionChunk + c];
}

// A chunk's forces where all its segments are known to hold only +0.0.
alignas(64) constexpr float kZeroForces[kCollisionChunk] = {};

void collideChunk(bool fInitialized, const float* values, const CollidedChunk& out, const float* forceX,
                  const float* forceY, float* depths, int count, const float* ahead = nullptr,
                  RowStreamer* alongside = nullptr)
{
    if (!fInitialized)
        collideChunk<false, false>(values, out, forceX, forceY, depths, count, nullptr, alongside);
    else if (forceX == kZeroForces && forceY == kZeroForces)
        collideChunk<true, true>(values, out, forceX, forceY, depths, count, ahead, alongside);
    else
        collideChunk<true, false>(values, out, forceX, forceY, depths, count, ahead, alongside);
}

// Collides `count` consecutive cells from `first` on in place, in chunks.
void collideCells(float* f, const float* fx, const float* fy, float* h, bool fInitialized, size_t first, int count)
{
    for (int done = 0; done < count; done += kCollisionChunk) {
        const size_t start = first + static_cast<size_t>(done);
        collideChunk(fInitialized, f + start * 9, {f + start * 9, nullptr, 0}, fx + start, fy + start, h + start,
                     std::min(kCollisionChunk, count - done));
    }
}

}  // namespace

namespace {

// A chunk's force component for the collision: the field itself where none
// of the chunk's segments is known to hold only +0.0, zeros where all are,
// else a copy with the known segments zeroed (their bits, unread).
const float* chunkForces(const float* field, const uint8_t* zeroSegments, int count, float* staged)
{
    if (zeroSegments == nullptr) return field;
    const int segments = count / kZeroSegmentCells;
    int known = 0;
    for (int s = 0; s < segments; ++s) known += zeroSegments[s];
    if (known == 0) return field;
    if (known == segments) return kZeroForces;
    for (int s = 0; s < segments; ++s)
        for (int c = 0; c < kZeroSegmentCells; ++c)
            staged[s * kZeroSegmentCells + c] = zeroSegments[s] ? 0.0f : field[s * kZeroSegmentCells + c];
    return staged;
}

// Decays cells first .. first + count - 1 of a force field, skipping the
// segments known to hold only +0.0 (they would stay so) and noting those
// whose results are all +0.0 now. Returns the segments it decayed.
int decayCells(float* force, uint8_t* zeroSegments, size_t first, int count)
{
    const int end = static_cast<int>(first) + count;
    if (zeroSegments == nullptr) {
        for (int i = static_cast<int>(first); i < end; ++i) decayForceCell(i, force);
        return (count + kZeroSegmentCells - 1) / kZeroSegmentCells;
    }
    int decayed = 0;
    for (int s = 0; s < count / kZeroSegmentCells; ++s) {
        if (zeroSegments[s]) continue;
        ++decayed;
        const int segmentStart = static_cast<int>(first) + s * kZeroSegmentCells;
        uint32_t anyBits = 0;
        for (int i = segmentStart; i < segmentStart + kZeroSegmentCells; ++i) {
            decayForceCell(i, force);
            anyBits |= bitPatternOf(force[i]);
        }
        zeroSegments[s] = anyBits == 0;  // +0.0 alone: -0.0 has its sign bit
    }
    return decayed;
}

}  // namespace

int collideAndDecayCells(const FrameStep& step, size_t first, int count, float* directions, size_t stride,
                         float* cells, RowStreamer* alongside)
{
    // Segments of the known-zero maps start at multiples of 16 cells, as
    // rows and chunks do.
    uint8_t* zeroX = step.fxZeroSegments == nullptr ? nullptr : step.fxZeroSegments + first / kZeroSegmentCells;
    uint8_t* zeroY = step.fyZeroSegments == nullptr ? nullptr : step.fyZeroSegments + first / kZeroSegmentCells;
    alignas(64) float stagedX[kCollisionChunk];
    alignas(64) float stagedY[kCollisionChunk];
    for (int done = 0; done < count; done += kCollisionChunk) {
        const size_t start = first + static_cast<size_t>(done);
        const int chunk = std::min(kCollisionChunk, count - done);
        const int aheadDone = done + kFetchChunksAhead * kCollisionChunk;
        const float* ahead = aheadDone + kCollisionChunk <= count ? step.f + (first + aheadDone) * 9 : nullptr;
        const int segment = done / kZeroSegmentCells;
        const float* forceX =
            chunkForces(step.fx + start, zeroX == nullptr ? nullptr : zeroX + segment, chunk, stagedX);
        const float* forceY =
            chunkForces(step.fy + start, zeroY == nullptr ? nullptr : zeroY + segment, chunk, stagedY);
        const CollidedChunk out{cells == nullptr ? nullptr : cells + static_cast<size_t>(done) * 9, directions + done,
                                stride};
        // The depths are only written: sent on with streaming stores, their
        // lines are never read first.
        alignas(64) float depths[kCollisionChunk];
        collideChunk(step.fInitialized, step.f + start * 9, out, forceX, forceY, depths, chunk, ahead, alongside);
        copyWithStreamingStores(step.h + start, depths, static_cast<size_t>(chunk) * sizeof(float));
    }
    return decayCells(step.fx, zeroX, first, count) + decayCells(step.fy, zeroY, first, count);
}

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
    if (!coversCellsInOrder(grid, block) || block.x > kStagedWords) {
        runOneCellPerThread(grid, block, cellOfThread, [=](int i) { heightMapCell(i, h, pixels); });
        return;
    }
    const int cells = static_cast<int>(block.x);
    cpu_runtime::runBlocksInParallel(grid.x, [=](size_t firstBlock, size_t endBlock) {
        unsigned int words[kStagedWords];
        for (size_t b = firstBlock; b < endBlock; ++b) {
            const int first = static_cast<int>(b) * cells;
            for (int i = 0; i < cells; ++i) heightMapCell(i, h + first, words);
            copyWithStreamingStores(pixels + first, words, static_cast<size_t>(cells) * sizeof(unsigned int));
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
}

}  // namespace CPU_KERNELS
