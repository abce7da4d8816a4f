// The frame pass's streaming of a row from collided rows in direction-major
// order: interior segments as nine runs of 16 values put into cell order
// (row_passes.h); the first and last segments of a row, and the rows on the
// walls, cell by cell by each class's pull.
#include "row_passes.h"

#include <algorithm>
#include <cstdint>

namespace CPU_KERNELS {

RowStreamer::RowStreamer(const StreamLaunch& launch, int y, const DirectionMajorRows& rows)
    : launch_(launch), y_(y), rows_(rows), lastSegment_(launch.width / kStreamSegmentCells - 1)
{
    const bool byLines = launch.interiorByLines && launch.width >= 3 * kStreamSegmentCells && y != 0 && y != launch.height - 1;
    float* const target = launch.fStream + static_cast<size_t>(y) * launch.width * 9;
#if defined(__AVX512F__) || defined(__AVX2__)
    // The vector stores need the row on a vector's boundary.
    const bool aligned = reinterpret_cast<uintptr_t>(target) % (kTransposeCells * sizeof(float)) == 0;
#else
    const bool aligned = true;
#endif
    if (!byLines || !aligned) return;
    // Every direction of an interior cell comes from the same direction of
    // a neighbour, so each direction's values of 16 cells are one run of
    // its source row.
    target_ = target;
    for (int k = 0; k < 9; ++k)
        interiorSources_[k] = rows.row[launch.rowStep[kInteriorClass][k] + 1] + static_cast<size_t>(k) * rows.stride +
                              launch.columnStep[kInteriorClass][k];
}

void RowStreamer::streamSegments(int count)
{
    const int end = std::min(lastSegment_ + 1, next_ + count);
    for (; next_ < end; ++next_) {
        if (target_ == nullptr || next_ == 0 || next_ == lastSegment_)
            streamSegment(launch_, rows_, y_, next_);
        else
            pullInteriorSegment(next_);
    }
}

}  // namespace CPU_KERNELS
