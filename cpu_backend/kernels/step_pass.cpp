// One step's collision, streaming and force decays in one pass over
// memory (step_pass.h). Run one after the other, the launches read and
// write every distribution value twice, and in cell order the collision
// must first reorder each run of cells to vectorise. Here each grid row's
// streamed values are pulled, direction by direction, from the previous
// step's collided rows (kept direction-major), collided and stored
// direction-major: each value read once, written once, and no reordering.
// Each row goes through the collision's own per-cell code and the
// streaming kernel's own stencil table, so every array that can be
// observed is bit for bit what the launches leave.
//
// A row (collideRow) goes in chunks of cells: pulled from the previous
// step's collided rows or read from f in cell order, collided, stored
// direction-major, the depth written with streaming stores; then both
// force fields are decayed over the row.
//
// Rows are independent (the pass reads fStream and writes f), so the
// workers take runs of consecutive rows: the three collided rows that a
// row pulls from were, two of them, read for the row before, and are still
// in the cache.
#include "step_pass.h"

#include "chunk_collision.h"
#include "direction_major.h"
#include "stencil_table.h"
#include "streaming_copy.h"

#include "cpu_backend/runtime/launch_workers.h"
#include "cpu_backend/runtime/memory_copy.h"
#include "kernels/forcing.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace CPU_KERNELS {
namespace {

// A chunk's force component for the collision: the field itself where none
// of the chunk's lines is known to hold only +0.0, zeros where all are,
// else a copy with the known lines zeroed (their bits, unread).
const float* chunkForces(const float* field, const uint8_t* zeroLines, int count, float* staged)
{
    if (zeroLines == nullptr) return field;
    const int lines = count / kZeroMaskLineCells;
    int known = 0;
    for (int s = 0; s < lines; ++s) known += zeroLines[s];
    if (known == 0) return field;
    if (known == lines) return kZeroForces;
    for (int s = 0; s < lines; ++s)
        for (int c = 0; c < kZeroMaskLineCells; ++c)
            staged[s * kZeroMaskLineCells + c] = zeroLines[s] ? 0.0f : field[s * kZeroMaskLineCells + c];
    return staged;
}

// Decays cells first .. first + count - 1 of a force field, skipping the
// lines known to hold only +0.0 (they would stay so) and noting those
// whose results are all +0.0 now. Returns the lines it decayed.
int decayCells(float* force, uint8_t* zeroLines, size_t first, int count)
{
    const int end = static_cast<int>(first) + count;
    if (zeroLines == nullptr) {
        for (int i = static_cast<int>(first); i < end; ++i) decayForceCell(i, force);
        return (count + kZeroMaskLineCells - 1) / kZeroMaskLineCells;
    }
    int decayed = 0;
    for (int s = 0; s < count / kZeroMaskLineCells; ++s) {
        if (zeroLines[s]) continue;
        ++decayed;
        const int lineStart = static_cast<int>(first) + s * kZeroMaskLineCells;
        uint32_t anyBits = 0;
        for (int i = lineStart; i < lineStart + kZeroMaskLineCells; ++i) {
            decayForceCell(i, force);
            anyBits |= bitPatternOf(force[i]);
        }
        zeroLines[s] = anyBits == 0;  // +0.0 alone: -0.0 has its sign bit
    }
    return decayed;
}

// Collides grid row y of the pass, in chunks: its cells' values pulled by
// the stencil table from the collided rows around it in fStream, or read
// in cell order from f's row y (StepPass::collidedInFStream); the forces
// from fx and fy where the zero masks do not know them. The collided
// values go direction-major to `out` (the row's nine runs of width floats)
// and the depths to h, both with streaming stores (the caller calls
// cpu_runtime::finishCopiesBypassingCache() before they are read). Then
// both force fields are decayed over the row. Returns how many force
// lines (of both fields) it read and rewrote: those not known to hold
// only +0.0.
int collideRow(const StepPass& pass, const GridStencil& stencil, int y, float* out)
{
    const int width = pass.width;
    const size_t first = static_cast<size_t>(y) * width;
    // Lines of the zero masks start at multiples of 16 cells, as rows
    // and chunks do.
    uint8_t* zeroX = pass.fxZeroMask == nullptr ? nullptr : pass.fxZeroMask + first / kZeroMaskLineCells;
    uint8_t* zeroY = pass.fyZeroMask == nullptr ? nullptr : pass.fyZeroMask + first / kZeroMaskLineCells;
    const DirectionMajorRows around = pass.collidedInFStream
                                          ? directionMajorRowsAround(pass.fStream, width, pass.height, y)
                                          : DirectionMajorRows{};
    const float* const cells = pass.f + first * kDirections;
    // Of the three collided rows a row pulls from, two were read for the
    // row before; the third, y + 1, comes from memory. Each chunk asks for
    // the same cells of row y + 2 into the L2 cache, a row ahead of their
    // use: the hardware's own prefetch, following nine runs at once, does
    // not keep the loads from waiting on memory.
    const float* const rowAhead = pass.collidedInFStream && y + 2 < pass.height
                                      ? directionMajorRow(pass.fStream, width, y + 2)
                                      : nullptr;
    alignas(64) float stagedX[kCollisionChunk];
    alignas(64) float stagedY[kCollisionChunk];
    for (int x0 = 0; x0 < width; x0 += kCollisionChunk) {
        const int count = std::min(kCollisionChunk, width - x0);
        if (rowAhead != nullptr)
            for (int k = 0; k < kDirections; ++k)
                for (int c = 0; c < count; c += 16) __builtin_prefetch(rowAhead + k * width + x0 + c, 0, 2);
        const int line = x0 / kZeroMaskLineCells;
        const float* forceX =
            chunkForces(pass.fx + first + x0, zeroX == nullptr ? nullptr : zeroX + line, count, stagedX);
        const float* forceY =
            chunkForces(pass.fy + first + x0, zeroY == nullptr ? nullptr : zeroY + line, count, stagedY);
        auto load = [&](float* chunk) {
            if (pass.collidedInFStream) return pullChunkRuns(stencil, around, y, x0, count, chunk);
            cellsToChunk(cells + static_cast<size_t>(x0) * kDirections, count, chunk);
            return chunkRows(chunk);
        };
        // The collided values and the depths are only written: sent on with
        // streaming stores, their lines are never read first.
        auto store = [&](const float* chunk) {
            for (int k = 0; k < kDirections; ++k)
                copyWithStreamingStores(out + static_cast<size_t>(k) * width + x0, chunk + k * kCollisionChunk,
                                        static_cast<size_t>(count) * sizeof(float));
        };
        alignas(64) float depths[kCollisionChunk];
        collideChunk(pass.fInitialized, load, store, forceX, forceY, depths, count);
        copyWithStreamingStores(pass.h + first + x0, depths, static_cast<size_t>(count) * sizeof(float));
    }
    return decayCells(pass.fx, zeroX, first, width) + decayCells(pass.fy, zeroY, first, width);
}

}  // namespace


bool runStepPass(const StepPass& pass)
{
    GridStencil stencil;
    if (!prepareGridStencil(pass.width, pass.height, &stencil)) return false;
    const size_t rowFloats = static_cast<size_t>(pass.width) * kDirections;
    // Read in cell order, f's row is overwritten only once all of it has
    // been read: its collided values wait in a row of the worker's own.
    const bool rowReadInPlace = pass.fInitialized && !pass.collidedInFStream;
    std::atomic<unsigned long long> forceLines{0};
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(pass.height), [&](size_t first, size_t end) {
        float* const staged = rowReadInPlace ? cpu_runtime::threadScratchFloats(rowFloats) : nullptr;
        unsigned long long lines = 0;
        for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y) {
            float* const row = directionMajorRow(pass.f, pass.width, y);
            lines += static_cast<unsigned long long>(collideRow(pass, stencil, y, staged ? staged : row));
            if (staged != nullptr) copyWithStreamingStores(row, staged, rowFloats * sizeof(float));
        }
        forceLines.fetch_add(lines);
        cpu_runtime::finishCopiesBypassingCache();
    });
    if (pass.movedBytes != nullptr) {
        // The distributions read (unless the first step starts from still
        // water) and written, h written, each force line touched read
        // and written once.
        const unsigned long long cells = static_cast<unsigned long long>(pass.width) * pass.height;
        *pass.movedBytes = (pass.fInitialized ? cells * 36 : 0) + cells * (36 + 4) +
                           forceLines.load() * kZeroMaskLineCells * 4 * 2;
    }
    return true;
}

}  // namespace CPU_KERNELS
