// The collision of a run of consecutive cells (a chunk), moved into
// direction-major order so that the per-cell code vectorises across cells.
// The frame pass collides its rows with it (row_collision.cpp), and the
// collision launched alone its blocks (cpu_backend/kernels/simple_kernels.cpp).
#pragma once

#include <algorithm>
#include <cstring>

#include "cell_transpose.h"
#include "row_passes.h"
#include "kernels/collision.h"

namespace CPU_KERNELS {

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
// ahead, on a 2-core Xeon. `alongside`, unless null,
// streams a segment of another row after each vector of cells, so that
// its streaming stores drain while the next cells compute.
//
// With kForcesZero both forces are known to be +0.0 everywhere in the chunk
// and are not read: the collision takes them as constants, and the
// compiler drops the force terms' products, which then add only a zero of
// known sign (the same bits as the products of +0.0 read from memory).
template <bool kInitialized, bool kForcesZero>
inline void collideChunk(const float* values, const CollidedChunk& out, const float* __restrict forceX,
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
alignas(64) inline constexpr float kZeroForces[kCollisionChunk] = {};

inline void collideChunk(bool fInitialized, const float* values, const CollidedChunk& out, const float* forceX,
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

}  // namespace CPU_KERNELS
