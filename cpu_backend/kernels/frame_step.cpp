// One frame's collision, streaming and force decays in one pass over
// memory. Run one after the other, they read and write every distribution
// value twice; here each grid row is collided (and its forces decayed) just
// before the streaming of the row above it needs it, so the streaming reads
// collided rows from the cache, not from memory. Each row goes through the
// same collision and streaming code as their own launches, so fStream, h
// and the forces are those of the four launches run one by one, bit for
// bit. The collided values are written back to f only where the queue
// needs them there: otherwise each worker keeps its band's last three
// collided rows in a small buffer, and f owes them (they are the inverse
// streaming of fStream; the queue recovers them if anything looks).
#include "kernel_set.h"
#include "row_passes.h"

#include "cpu_backend/cpu_runtime_hooks.h"
#include "cpu_backend/launch_workers.h"
#include "cpu_backend/memory_copy.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace CPU_KERNELS {
namespace {

// Each worker streams bands of consecutive rows; a few bands per worker
// even out the load.
constexpr unsigned kBandsPerWorker = 4;

// A worker's last three collided rows, row r in slot r mod 3, each on a
// 64-byte boundary as the streaming's vector loads want. Kept per thread
// between frames, so a frame allocates nothing.
class CollidedRows {
public:
    explicit CollidedRows(size_t rowFloats)
        : rowFloats_(rowFloats), base_(cpu_runtime::threadScratchFloats(3 * rowFloats))
    {
    }
    float* row(int y) const { return base_ + static_cast<size_t>(y % 3) * rowFloats_; }

private:
    size_t rowFloats_;
    float* base_;
};

}  // namespace

FrameStepRun runFrameStep(const FrameStep& step)
{
    StreamLaunch stream;
    if (!prepareStreamLaunch(step.f, step.fStream, step.width, step.height, &stream)) return FrameStepRun::kNotRun;
    const bool leaveOwed = step.mayLeaveFOwed && stream.movesEachValueOnce;
    const size_t rowFloats = static_cast<size_t>(step.width) * 9;
    float* const f = step.f;

    const int bands = static_cast<int>(std::min<unsigned>(static_cast<unsigned>(step.height),
                                                          kBandsPerWorker * cpu_runtime::workerCount()));
    auto firstRow = [&](int band) { return static_cast<int>(static_cast<long long>(band) * step.height / bands); };
    // What the pass moves in memory, for the benchmark: force segments
    // counted as they are touched, rows of f written in place.
    std::atomic<unsigned long long> forceSegments{0};
    std::atomic<unsigned long long> rowsWrittenInPlace{0};
    auto collideRow = [&](int y, float* collided) {
        forceSegments.fetch_add(static_cast<unsigned long long>(
            collideAndDecayCells(step, static_cast<size_t>(y) * step.width, step.width, collided)));
        if (collided == f + static_cast<size_t>(y) * rowFloats) rowsWrittenInPlace.fetch_add(1);
    };
    auto rowOfF = [&](int y) { return f + static_cast<size_t>(y) * rowFloats; };

    // Streaming a band's first and last rows reads the last row of the band
    // above and the first row of the band below, so every band's first and
    // last rows are collided, in place, before any band streams.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(bands), [&](size_t first, size_t end) {
        for (int band = static_cast<int>(first); band < static_cast<int>(end); ++band) {
            const int top = firstRow(band);
            const int bottom = firstRow(band + 1) - 1;
            collideRow(top, rowOfF(top));
            if (bottom > top) collideRow(bottom, rowOfF(bottom));
        }
    });
    // Then each band streams its rows top to bottom, colliding each of its
    // other rows just before the row above it is streamed: into the
    // worker's buffer where f may owe them, else in place.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(bands), [&](size_t first, size_t end) {
        const CollidedRows buffer(leaveOwed ? rowFloats : 0);
        for (int band = static_cast<int>(first); band < static_cast<int>(end); ++band) {
            const int top = firstRow(band);
            const int bottom = firstRow(band + 1) - 1;
            auto collidedRow = [&](int y) -> const float* {
                if (y < 0 || y >= step.height) return nullptr;
                return leaveOwed && y > top && y < bottom ? buffer.row(y) : rowOfF(y);
            };
            for (int y = top; y <= bottom; ++y) {
                if (y + 1 < bottom) collideRow(y + 1, leaveOwed ? buffer.row(y + 1) : rowOfF(y + 1));
                const float* const around[3] = {collidedRow(y - 1), collidedRow(y), collidedRow(y + 1)};
                streamGridRowFrom(stream, y, around);
            }
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
    if (step.movedBytes != nullptr) {
        // f read (unless the first step starts from still water) and the
        // rows written back; fStream and h written; each force segment
        // touched read and written once.
        const unsigned long long cells = static_cast<unsigned long long>(step.width) * step.height;
        *step.movedBytes = (step.fInitialized ? cells * 36 : 0) + rowsWrittenInPlace.load() * rowFloats * 4 +
                           cells * (36 + 4) + forceSegments.load() * kZeroSegmentCells * 4 * 2;
    }
    return leaveOwed ? FrameStepRun::kFOwed : FrameStepRun::kFWritten;
}

}  // namespace CPU_KERNELS
