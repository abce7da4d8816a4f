// The step pass's collision of a row (row_collision.h): each chunk of
// cells pulled from the previous step's collided rows (the streaming) or
// read from f in cell order, collided, and stored direction-major; the
// depth written with streaming stores; then both force fields decayed over
// the row.
#include "row_collision.h"

#include "chunk_collision.h"
#include "direction_major.h"
#include "streaming_copy.h"
#include "kernels/forcing.h"

#include <algorithm>
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

}  // namespace

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
            if (pass.collidedInFStream)
                pullChunk(stencil, around, y, x0, count, chunk);
            else
                cellsToChunk(cells + static_cast<size_t>(x0) * kDirections, count, chunk);
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

}  // namespace CPU_KERNELS
