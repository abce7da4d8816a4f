// The frame pass's collision of a row: its chunks collided from f, the
// forces taken from the zero masks where they are known, the depth written
// with streaming stores, then both force fields decayed over the same
// cells.
#include "chunk_collision.h"
#include "row_passes.h"
#include "streaming_copy.h"
#include "kernels/forcing.h"

#include <algorithm>
#include <cstdint>

namespace CPU_KERNELS {
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

int collideAndDecayCells(const FramePass& pass, size_t first, int count, float* directions, size_t stride,
                         float* cells, RowStreamer* alongside)
{
    // Segments of the zero masks start at multiples of 16 cells, as
    // rows and chunks do.
    uint8_t* zeroX = pass.fxZeroMask == nullptr ? nullptr : pass.fxZeroMask + first / kZeroSegmentCells;
    uint8_t* zeroY = pass.fyZeroMask == nullptr ? nullptr : pass.fyZeroMask + first / kZeroSegmentCells;
    alignas(64) float stagedX[kCollisionChunk];
    alignas(64) float stagedY[kCollisionChunk];
    for (int done = 0; done < count; done += kCollisionChunk) {
        const size_t start = first + static_cast<size_t>(done);
        const int chunk = std::min(kCollisionChunk, count - done);
        const int aheadDone = done + kFetchChunksAhead * kCollisionChunk;
        const float* ahead = aheadDone + kCollisionChunk <= count ? pass.f + (first + aheadDone) * 9 : nullptr;
        const int segment = done / kZeroSegmentCells;
        const float* forceX =
            chunkForces(pass.fx + start, zeroX == nullptr ? nullptr : zeroX + segment, chunk, stagedX);
        const float* forceY =
            chunkForces(pass.fy + start, zeroY == nullptr ? nullptr : zeroY + segment, chunk, stagedY);
        const CollidedChunk out{cells == nullptr ? nullptr : cells + static_cast<size_t>(done) * 9, directions + done,
                                stride};
        // The depths are only written: sent on with streaming stores, their
        // lines are never read first.
        alignas(64) float depths[kCollisionChunk];
        collideChunk(pass.fInitialized, pass.f + start * 9, out, forceX, forceY, depths, chunk, ahead, alongside);
        copyWithStreamingStores(pass.h + start, depths, static_cast<size_t>(chunk) * sizeof(float));
    }
    return decayCells(pass.fx, zeroX, first, count) + decayCells(pass.fy, zeroY, first, count);
}

}  // namespace CPU_KERNELS
