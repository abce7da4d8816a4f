// One frame's collision, streaming and force decays in one pass over
// memory. Run one after the other, they read and write every distribution
// value twice; here each grid row is collided (and its forces decayed) just
// before the streaming of the row above it needs it, so the streaming reads
// collided rows from the cache, not from memory. The results are those of
// the four launches run one by one, bit for bit: each row goes through the
// same collision and streaming code as their own launches, and the collided
// values are still written back to f.
#include "kernel_set.h"
#include "row_passes.h"

#include "cpu_backend/cpu_runtime_hooks.h"
#include "cpu_backend/launch_workers.h"
#include "cpu_backend/memory_copy.h"

#include <algorithm>

namespace CPU_KERNELS {
namespace {

// Each worker streams bands of consecutive rows; a few bands per worker
// even out the load.
constexpr unsigned kBandsPerWorker = 4;

}  // namespace

bool runFrameStep(const FrameStep& step)
{
    StreamLaunch stream;
    if (!prepareStreamLaunch(step.f, step.fStream, step.width, step.height, &stream)) return false;

    const int bands = static_cast<int>(std::min<unsigned>(static_cast<unsigned>(step.height),
                                                          kBandsPerWorker * cpu_runtime::workerCount()));
    auto firstRow = [&](int band) { return static_cast<int>(static_cast<long long>(band) * step.height / bands); };
    auto collideRow = [&](int y) { collideAndDecayCells(step, static_cast<size_t>(y) * step.width, step.width); };

    // Streaming a band's first and last rows reads the last row of the band
    // above and the first row of the band below, so every band's first and
    // last rows are collided before any band streams.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(bands), [&](size_t first, size_t end) {
        for (int band = static_cast<int>(first); band < static_cast<int>(end); ++band) {
            collideRow(firstRow(band));
            if (firstRow(band + 1) - 1 > firstRow(band)) collideRow(firstRow(band + 1) - 1);
        }
    });
    // Then each band streams its rows top to bottom, colliding each of its
    // other rows just before the row above it is streamed.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(bands), [&](size_t first, size_t end) {
        for (int band = static_cast<int>(first); band < static_cast<int>(end); ++band) {
            const int top = firstRow(band);
            const int bottom = firstRow(band + 1) - 1;
            for (int y = top; y <= bottom; ++y) {
                if (y + 1 < bottom) collideRow(y + 1);
                streamGridRow(stream, y);
            }
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
    return true;
}

}  // namespace CPU_KERNELS
