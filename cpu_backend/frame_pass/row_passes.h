// The collision and the streaming over grid rows, as the frame pass runs
// them together (frame_pass.cpp): the collision of a row's chunks
// (row_collision.cpp, chunk_collision.h) and the streaming of a row by the
// stencil table (stencil_table.h, row_streamer.cpp).
#pragma once

#include <cstddef>

#include "cell_transpose.h"
#include "stencil_table.h"
#include "kernels/stream.h"

#include "cpu_backend/runtime/memory_copy.h"

namespace CPU_KERNELS {

// The frame pass keeps its collided rows in direction-major order
// (DirectionMajorRows): in this order the collision hands its results on
// without putting them back in cell order, and the streaming takes each
// direction's values of a run of cells with one vector load.

class RowStreamer;

// Collides cells first .. first + count - 1 of pass.f, writing their depth
// to pass.h with streaming stores (the caller calls
// cpu_runtime::finishCopiesBypassingCache() before h is read), then decays
// both force fields over the same cells. The collided values go in
// direction-major order to `directions` (value k of cell first + c at
// directions[k * stride + c]) and, unless `cells` is null, in cell order
// to `cells` as well (the cells' own place in pass.f). `alongside`, unless
// null, streams one segment of its row after each 16 cells collided.
// Returns how many force segments (of both fields) it read and rewrote:
// those not known to hold only +0.0.
int collideAndDecayCells(const FramePass& pass, size_t first, int count, float* directions, size_t stride,
                         float* cells, RowStreamer* alongside);

// Streams grid row y into fStream from collided rows in direction-major
// order, a few segments (16 cells) at a time between other work, with
// streaming stores; the caller calls cpu_runtime::finishCopiesBypassingCache()
// before the rows are read. The pointers of rows outside the grid are not
// read.
class RowStreamer {
public:
    RowStreamer(const StreamLaunch& launch, int y, const DirectionMajorRows& rows);
    // Streams the row's next segment, if one is left: inline, since the
    // collision calls it after every 16 cells.
    void streamNextSegment()
    {
        if (target_ != nullptr && next_ > 0 && next_ < lastSegment_)
            pullInteriorSegment(next_++);
        else
            streamSegments(1);
    }
    // Streams the row's next `count` segments, or as many as are left.
    void streamSegments(int count);
    void finish() { streamSegments(launch_.width); }

private:
    // An interior segment: nine runs of 16 values put into cell order.
    void pullInteriorSegment(int s) const
    {
        const int first = s * kStreamSegmentCells;
#if defined(__AVX512F__) || defined(__AVX2__)
        for (int c = first; c < first + kStreamSegmentCells; c += kTransposeCells) {
            const float* const part[9] = {interiorSources_[0] + c, interiorSources_[1] + c, interiorSources_[2] + c,
                                          interiorSources_[3] + c, interiorSources_[4] + c, interiorSources_[5] + c,
                                          interiorSources_[6] + c, interiorSources_[7] + c, interiorSources_[8] + c};
            directionsToCells<true>(part, target_ + static_cast<size_t>(c) * 9);
        }
#else
        float segment[kStreamSegmentCells * 9];
        for (int c = 0; c < kStreamSegmentCells; ++c)
            for (int k = 0; k < 9; ++k) segment[c * 9 + k] = interiorSources_[k][first + c];
        cpu_runtime::copyBypassingCache(target_ + static_cast<size_t>(first) * 9, segment, sizeof segment);
#endif
    }

    const StreamLaunch& launch_;
    int y_;
    DirectionMajorRows rows_;
    int next_ = 0;
    int lastSegment_;
    // Where an interior cell of the row takes each direction from, for
    // column 0 (used from column 16 on), and where the row goes; null where
    // the row cannot go line by line.
    const float* interiorSources_[9] = {};
    float* target_ = nullptr;
};

}  // namespace CPU_KERNELS
