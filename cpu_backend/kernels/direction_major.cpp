// Putting direction-major distributions back in the cell order of the
// launches (direction_major.h): seldom needed (a copy, a free or a launch
// that could see them), so written for clarity rather than speed.
#include "direction_major.h"

#include "cell_transpose.h"
#include "cpu_backend/runtime/launch_workers.h"

#include <algorithm>
#include <cstring>

namespace CPU_KERNELS {

bool runRestoreCellMajor(float* collided, float* streamed, int width, int height)
{
    GridStencil stencil;
    if (!prepareGridStencil(width, height, &stencil)) return false;
    const size_t rowFloats = static_cast<size_t>(width) * kDirections;
    // First the streaming, which reads the collided rows around each row,
    // a chunk at a time...
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(height), [&](size_t first, size_t end) {
        alignas(64) float chunk[kDirections * kCollisionChunk];
        for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y) {
            const DirectionMajorRows around = directionMajorRowsAround(collided, width, height, y);
            for (int x0 = 0; x0 < width; x0 += kCollisionChunk) {
                const int count = std::min(kCollisionChunk, width - x0);
                pullChunk(stencil, around, y, x0, count, chunk);
                chunkToCells(chunk, count, streamed + (static_cast<size_t>(y) * width + x0) * kDirections);
            }
        }
    });
    // ...then each collided row in cell order, in place, through a copy.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(height), [&](size_t first, size_t end) {
        float* const copy = cpu_runtime::threadScratchFloats(rowFloats);
        for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y) {
            float* const row = directionMajorRow(collided, width, y);
            std::memcpy(copy, row, rowFloats * sizeof(float));
            const int grouped = width - width % kTransposeCells;
            for (int x = 0; x < grouped; x += kTransposeCells) rowsToCells(copy + x, width, row + x * kDirections);
            for (int x = grouped; x < width; ++x)
                for (int k = 0; k < kDirections; ++k) row[x * kDirections + k] = copy[k * width + x];
        }
    });
    return true;
}

}  // namespace CPU_KERNELS
