// Putting direction-major distributions back in the cell order of the
// launches (direction_major.h): seldom needed (a copy, a free or a launch
// that could see them), so written for clarity rather than speed.
#include "direction_major.h"

#include "cell_transpose.h"
#include "cpu_backend/runtime/launch_workers.h"

#include <cstring>

namespace CPU_KERNELS {

bool runRestoreCellMajor(float* collided, float* streamed, int width, int height)
{
    StreamLaunch launch;
    if (!prepareStreamLaunch(collided, streamed, width, height, &launch)) return false;
    // First the streaming, which reads the collided rows around each row...
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(height), [&](size_t first, size_t end) {
        for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y) {
            const DirectionMajorRows rows = directionMajorRowsAround(collided, width, height, y);
            for (int s = 0; s < width / kStreamSegmentCells; ++s) streamSegment(launch, rows, y, s);
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
    // ...then each collided row in cell order, in place, through a copy.
    const size_t rowFloats = static_cast<size_t>(width) * 9;
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(height), [&](size_t first, size_t end) {
        float* const copy = cpu_runtime::threadScratchFloats(rowFloats);
        for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y) {
            float* const row = directionMajorRow(collided, width, y);
            std::memcpy(copy, row, rowFloats * sizeof(float));
            const int grouped = width - width % kTransposeCells;
            for (int x = 0; x < grouped; x += kTransposeCells) rowsToCells(copy + x, width, row + x * 9);
            for (int x = grouped; x < width; ++x)
                for (int k = 0; k < 9; ++k) row[x * 9 + k] = copy[k * width + x];
        }
    });
    return true;
}

}  // namespace CPU_KERNELS
