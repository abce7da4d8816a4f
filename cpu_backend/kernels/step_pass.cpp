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
// Rows are independent (the pass reads fStream and writes f), so the
// workers take runs of consecutive rows: the three collided rows that a
// row pulls from were, two of them, read for the row before, and are still
// in the cache.
#include "chunk_collision.h"
#include "direction_major.h"
#include "row_collision.h"
#include "streaming_copy.h"

#include "cpu_backend/runtime/launch_workers.h"
#include "cpu_backend/runtime/memory_copy.h"

#include <atomic>

namespace CPU_KERNELS {

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
