// The collision of a run of consecutive cells (a chunk) held in
// direction-major order, so that the per-cell code vectorises across cells.
// The step pass fills its chunks from the previous step's collided rows
// (step_pass.cpp); the collision launched alone from cells in f's own
// order (cpu_backend/kernels/simple_kernels.cpp).
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <algorithm>

#include "cell_transpose.h"
#include "kernels/collision.h"

#if defined(__wasm_simd128__)
#include "simd128_lanes.h"
#endif

namespace CPU_KERNELS {

// The collision runs in chunks of this many consecutive cells, whose values
// stay in the L1 cache from loading to storing.
constexpr int kCollisionChunk = 32;

// Direction k of cell c in a chunk (row k holds every cell's direction k),
// so that the collision of consecutive cells reads and writes consecutive
// floats. The fixed row length lets the compiler see that the rows never
// overlap.
struct TransposedCell {
    float* cell;
    float& operator[](int k) const { return cell[k * kCollisionChunk]; }
};

// Collides the chunk's first `count` cells in place. The flags are template
// arguments so that the compiler drops the untaken branch and vectorises
// across cells; the fields never overlap, and saying so spares the loop its
// alias checks.
//
// With forcesZero both forces are known to be +0.0 everywhere in the chunk
// and are not read: the collision takes them as constants, and the
// compiler drops the force terms' products, which then add only a zero of
// known sign (the same bits as the products of +0.0 read from memory).
template <bool fInitialized, bool forcesZero>
[[gnu::always_inline]] inline void collideTransposed(float* __restrict chunk, const float* __restrict forceX,
                                                     const float* __restrict forceY, float* __restrict depths,
                                                     int count)
{
    // Read once for the chunk: the relaxation factor is a global the loop's
    // stores could alias.
    const Relaxation relaxation = currentRelaxation();
    int c = 0;
#if defined(__wasm_simd128__)
    // Four cells a vector (simd128_lanes.h), the rest one by one.
    struct TransposedLanes {
        float* cells;
        ChunkLanes operator[](int k) const { return ChunkLanes{cells + k * kCollisionChunk}; }
    };
    for (; c + 4 <= count; c += 4) {
        const Lanes4 fx = forcesZero ? Lanes4(0.0f) : Lanes4(wasm_v128_load(forceX + c));
        const Lanes4 fy = forcesZero ? Lanes4(0.0f) : Lanes4(wasm_v128_load(forceY + c));
        wasm_v128_store(depths + c, collideCell(TransposedLanes{chunk + c}, fx, fy, fInitialized, relaxation).v);
    }
#endif
    for (; c < count; ++c)
        depths[c] = collideCell(TransposedCell{chunk + c}, forcesZero ? 0.0f : forceX[c],
                                forcesZero ? 0.0f : forceY[c], fInitialized, relaxation);
}

// A chunk's forces where all its lines are known to hold only +0.0.
alignas(64) inline constexpr float kZeroForces[kCollisionChunk] = {};

// Collides `count` cells, at most a chunk: load(chunk) fills the chunk's
// direction-major rows (not called on the first step, which starts from
// still water), store(chunk) takes the collided values.
template <typename Load, typename Store>
[[gnu::always_inline]] inline void collideChunk(bool fInitialized, const Load& load, const Store& store,
                                                const float* forceX, const float* forceY, float* depths, int count)
{
    alignas(64) float chunk[kDirections * kCollisionChunk];
    if (!fInitialized) {
        collideTransposed<false, false>(chunk, forceX, forceY, depths, count);
    } else {
        load(chunk);
        if (forceX == kZeroForces && forceY == kZeroForces)
            collideTransposed<true, true>(chunk, forceX, forceY, depths, count);
        else
            collideTransposed<true, false>(chunk, forceX, forceY, depths, count);
    }
    store(static_cast<const float*>(chunk));
}

// A chunk's cells between f's cell order (value k of cell c at 9 c + k)
// and the chunk's direction-major rows: whole groups of cells with vector
// permutes, the rest one by one.
inline void cellsToChunk(const float* cells, int count, float* chunk)
{
    const int grouped = count - count % kTransposeCells;
    for (int c = 0; c < grouped; c += kTransposeCells) cellsToRows(cells + c * kDirections, chunk + c, kCollisionChunk);
    for (int c = grouped; c < count; ++c)
        for (int k = 0; k < kDirections; ++k) chunk[k * kCollisionChunk + c] = cells[c * kDirections + k];
}

inline void chunkToCells(const float* chunk, int count, float* cells)
{
    const int grouped = count - count % kTransposeCells;
    for (int c = 0; c < grouped; c += kTransposeCells) rowsToCells(chunk + c, kCollisionChunk, cells + c * kDirections);
    for (int c = grouped; c < count; ++c)
        for (int k = 0; k < kDirections; ++k) cells[c * kDirections + k] = chunk[k * kCollisionChunk + c];
}

}  // namespace CPU_KERNELS
