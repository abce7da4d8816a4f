// One frame's collision, streaming and force decays in one pass over
// memory. Run one after the other, they read and write every distribution
// value twice; here each grid row is collided (and its forces decayed)
// while the row two above it is streamed, so the streaming reads collided
// rows from the cache, not from memory, and its streaming stores drain
// while the collision computes. Each row goes through the same collision
// and streaming code as their own launches, so fStream, h and the forces
// are those of the four launches run one by one, bit for bit.
//
// The collided rows are kept in direction-major order (the collision's own
// order), from which the streaming takes each direction's values with
// plain vector loads: each worker keeps its band's last four rows in a
// small buffer, and every band's first and last rows, which the bands on
// either side stream from too, lie in a buffer of the pass. They are
// written back to f only where the queue needs them there: otherwise f
// owes them (they are the inverse streaming of fStream; the queue recovers
// them if anything looks).
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

// A worker's last four collided rows, row r in slot r mod 4: the three
// being streamed from and the one being collided meanwhile. Each on a
// 64-byte boundary; kept per thread between frames, so a frame allocates
// nothing.
class CollidedRows {
public:
    explicit CollidedRows(size_t rowFloats)
        : rowFloats_(rowFloats), base_(cpu_runtime::threadScratchFloats(4 * rowFloats))
    {
    }
    float* row(int y) const { return base_ + static_cast<size_t>(y % 4) * rowFloats_; }

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
    // Band b's first row in slot 2 b of the pass's buffer, its last (where
    // that is another row) in slot 2 b + 1.
    float* const bandEdges = cpu_runtime::threadScratchFloats(2 * static_cast<size_t>(bands) * rowFloats,
                                                              cpu_runtime::ScratchUse::kSharedRows);
    auto edgeRow = [&](int band, bool last) {
        const bool ownSlot = last && firstRow(band + 1) - 1 > firstRow(band);
        return bandEdges + static_cast<size_t>(2 * band + (ownSlot ? 1 : 0)) * rowFloats;
    };
    // What the pass moves in memory, for the benchmark: force segments
    // counted as they are touched, rows of f written in place.
    std::atomic<unsigned long long> forceSegments{0};
    std::atomic<unsigned long long> rowsWrittenInPlace{0};
    auto collideRow = [&](int y, float* directions, RowStreamer* alongside) {
        float* const cells = leaveOwed ? nullptr : f + static_cast<size_t>(y) * rowFloats;
        forceSegments.fetch_add(static_cast<unsigned long long>(collideAndDecayCells(
            step, static_cast<size_t>(y) * step.width, step.width, directions, step.width, cells, alongside)));
        if (cells != nullptr) rowsWrittenInPlace.fetch_add(1);
    };

    // Streaming a band's first and last rows reads the last row of the band
    // above and the first row of the band below, so every band's first and
    // last rows are collided before any band streams.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(bands), [&](size_t first, size_t end) {
        for (int band = static_cast<int>(first); band < static_cast<int>(end); ++band) {
            const int top = firstRow(band);
            const int bottom = firstRow(band + 1) - 1;
            collideRow(top, edgeRow(band, false), nullptr);
            if (bottom > top) collideRow(bottom, edgeRow(band, true), nullptr);
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
    // Then each band streams its rows top to bottom, each while colliding
    // the row two below it.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(bands), [&](size_t first, size_t end) {
        const CollidedRows buffer(rowFloats);
        for (int band = static_cast<int>(first); band < static_cast<int>(end); ++band) {
            const int top = firstRow(band);
            const int bottom = firstRow(band + 1) - 1;
            auto collidedRow = [&](int y) -> const float* {
                if (y < 0 || y >= step.height) return nullptr;
                if (y == top - 1) return edgeRow(band - 1, true);
                if (y == top) return edgeRow(band, false);
                if (y == bottom) return edgeRow(band, true);
                if (y == bottom + 1) return edgeRow(band + 1, false);
                return buffer.row(y);
            };
            if (top + 1 < bottom) collideRow(top + 1, buffer.row(top + 1), nullptr);
            for (int y = top; y <= bottom; ++y) {
                const DirectionRows around{{collidedRow(y - 1), collidedRow(y), collidedRow(y + 1)},
                                           static_cast<size_t>(step.width)};
                RowStreamer streamer(stream, y, around);
                if (y + 2 < bottom) collideRow(y + 2, buffer.row(y + 2), &streamer);
                streamer.finish();
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
