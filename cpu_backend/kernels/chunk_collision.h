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

// Tells GCC that the loop after it carries no dependence from one cell to
// the next (each cell reads and writes only its own values), so that it
// vectorises without checking whether the runs it reads overlap the chunk
// it writes. (Clang, which builds the WebAssembly sets' spelled-out lanes
// and the sanitizers' builds, checks at run time.)
#if defined(__GNUC__) && !defined(__clang__)
#define SW_CELLS_INDEPENDENT _Pragma("GCC ivdep")
#else
#define SW_CELLS_INDEPENDENT
#endif

// Where a chunk's cells are read from: direction k of cell c at
// run[k][c]. The chunk's own rows (row k at chunk + k * kCollisionChunk),
// or, where the step pass pulls a chunk whose every direction is a run of
// a neighbouring row one cell to the side, those runs in the rows
// themselves: then nothing is copied before the collision.
struct ChunkRuns {
    const float* run[kDirections];
};

inline ChunkRuns chunkRows(const float* chunk)
{
    ChunkRuns rows;
    for (int k = 0; k < kDirections; ++k) rows.run[k] = chunk + k * kCollisionChunk;
    return rows;
}

// A run of consecutive cells' values of one direction as the collision's
// value type: one float, or a vector of lanes (simd128_lanes.h defines
// the same two for Lanes4).
inline float loadCells(const float* at, float) { return *at; }
inline void storeCells(float* at, float x) { *at = x; }

// Direction k of cell c (and the cells after it, one a lane): read from
// its run, written to the chunk's row k (the fixed row length lets the
// compiler see that the rows never overlap), so that the collision of
// consecutive cells reads and writes consecutive floats.
template <typename Real>
struct TransposedCell {
    const ChunkRuns& from;
    float* chunk;
    int c;
    struct Value {
        const float* read;
        float* write;
        operator Real() const { return loadCells(read, Real{}); }
        void operator=(Real x) const { storeCells(write, x); }
    };
    Value operator[](int k) const { return Value{from.run[k] + c, chunk + k * kCollisionChunk + c}; }
};

// The lanes of the collision's value type: four in the WebAssembly sets,
// whose vectors the build spells out; one elsewhere, the compiler
// vectorising the loops across cells.
#if defined(__wasm_simd128__)
using ChunkLanes = Lanes4;
#else
using ChunkLanes = float;
#endif
constexpr int kChunkLanes = static_cast<int>(sizeof(ChunkLanes) / sizeof(float));

// Collides the chunk's first `count` cells, read from `from` and written to
// the chunk's rows (which `from` may be). The flags are template
// arguments so that the compiler drops the untaken branch and vectorises
// across cells (SW_CELLS_INDEPENDENT).
//
// With forcesZero both forces are known to be +0.0 everywhere in the chunk
// and are not read: the collision takes them as constants, and the
// compiler drops the force terms' products, which then add only a zero of
// known sign (the same bits as the products of +0.0 read from memory).
//
// A whole chunk goes in two loops, the cells' moments first, then their
// relaxations: one loop of a whole cell is one long chain of dependent
// operations (the depth's sum, the velocity's divisions, the equilibrium,
// the relaxation) with more values live than 16 vector registers hold, so
// with AVX2 the processor waited on the chain and on spilled values; split,
// each loop's chain is short and its values fit. AVX-512's 32 registers
// hold the one loop's values, but on an AMD Zen 4 its step took 1.12 to
// 1.15 times as long as in two loops (docs/performance.md). Each cell's
// operations are the same, in the same order.
template <bool fInitialized, bool forcesZero>
[[gnu::always_inline]] inline void collideTransposed(const ChunkRuns& from, float* chunk,
                                                     const float* __restrict forceX,
                                                     const float* __restrict forceY, float* __restrict depths,
                                                     int count)
{
    using Real = ChunkLanes;
    using Cells = TransposedCell<Real>;
    // Read once for the chunk: the relaxation factor is a global the loop's
    // stores could alias.
    const Relaxation relaxation = currentRelaxation();
    auto forces = [&](const float* force, int c) { return forcesZero ? Real(0.0f) : loadCells(force + c, Real{}); };
    if (count == kCollisionChunk) {
        alignas(64) float u[kCollisionChunk];
        alignas(64) float v[kCollisionChunk];
SW_CELLS_INDEPENDENT
        for (int c = 0; c < kCollisionChunk; c += kChunkLanes) {
            CellMoments<Real> moments;
            collideCellPart<CellCollisionPart::moments>(Cells{from, chunk, c}, Real(0.0f), Real(0.0f), fInitialized,
                                                        relaxation, &moments);
            storeCells(depths + c, moments.depth);
            storeCells(u + c, moments.u);
            storeCells(v + c, moments.v);
        }
SW_CELLS_INDEPENDENT
        for (int c = 0; c < kCollisionChunk; c += kChunkLanes) {
            CellMoments<Real> moments{loadCells(depths + c, Real{}), loadCells(u + c, Real{}), loadCells(v + c, Real{})};
            collideCellPart<CellCollisionPart::relaxation>(Cells{from, chunk, c}, forces(forceX, c), forces(forceY, c),
                                                           fInitialized, relaxation, &moments);
        }
        return;
    }
    int c = 0;
SW_CELLS_INDEPENDENT
    for (; c + kChunkLanes <= count; c += kChunkLanes)
        storeCells(depths + c, collideCell(Cells{from, chunk, c}, forces(forceX, c), forces(forceY, c), fInitialized,
                                           relaxation));
    // The cells too few for the lanes, one by one.
    for (; c < count; ++c)
        depths[c] = collideCell(TransposedCell<float>{from, chunk, c}, forcesZero ? 0.0f : forceX[c],
                                forcesZero ? 0.0f : forceY[c], fInitialized, relaxation);
}

// A chunk's forces where all its lines are known to hold only +0.0.
alignas(64) inline constexpr float kZeroForces[kCollisionChunk] = {};

// Collides `count` cells, at most a chunk: load(chunk) says where the
// cells' values are read from (ChunkRuns), having filled the chunk's rows
// where they are read from there (not called on the first step, which
// starts from still water); store(chunk) takes the collided values.
template <typename Load, typename Store>
[[gnu::always_inline]] inline void collideChunk(bool fInitialized, const Load& load, const Store& store,
                                                const float* forceX, const float* forceY, float* depths, int count)
{
    alignas(64) float chunk[kDirections * kCollisionChunk];
    if (!fInitialized) {
        collideTransposed<false, false>(chunkRows(chunk), chunk, forceX, forceY, depths, count);
    } else {
        const ChunkRuns from = load(chunk);
        if (forceX == kZeroForces && forceY == kZeroForces)
            collideTransposed<true, true>(from, chunk, forceX, forceY, depths, count);
        else
            collideTransposed<true, false>(from, chunk, forceX, forceY, depths, count);
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
