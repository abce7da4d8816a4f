// One frame's collision, streaming and force decays in one pass over
// memory (frame_pass.h). Run one after the other, they read and write every distribution
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
// either side stream from too, lie in a buffer of the pass. Their
// write-back to f is deferred where the queue allows it (they are the
// inverse streaming of fStream; buffer_bookkeeping.h).
#include "row_passes.h"

#include "cpu_backend/runtime/cpu_runtime_hooks.h"
#include "cpu_backend/runtime/launch_workers.h"
#include "cpu_backend/runtime/memory_copy.h"

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

FramePassRun runFramePass(const FramePass& pass)
{
    StreamLaunch stream;
    if (!prepareStreamLaunch(pass.f, pass.fStream, pass.width, pass.height, &stream)) return FramePassRun::kNotRun;
    const bool deferWriteBack = pass.mayDeferWriteBack && stream.movesEachValueOnce;
    const size_t rowFloats = static_cast<size_t>(pass.width) * 9;
    float* const f = pass.f;

    const int bands = static_cast<int>(std::min<unsigned>(static_cast<unsigned>(pass.height),
                                                          kBandsPerWorker * cpu_runtime::workerCount()));
    auto firstRow = [&](int band) { return static_cast<int>(static_cast<long long>(band) * pass.height / bands); };
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
        float* const cells = deferWriteBack ? nullptr : f + static_cast<size_t>(y) * rowFloats;
        forceSegments.fetch_add(static_cast<unsigned long long>(collideAndDecayCells(
            pass, static_cast<size_t>(y) * pass.width, pass.width, directions, pass.width, cells, alongside)));
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
                if (y < 0 || y >= pass.height) return nullptr;
                if (y == top - 1) return edgeRow(band - 1, true);
                if (y == top) return edgeRow(band, false);
                if (y == bottom) return edgeRow(band, true);
                if (y == bottom + 1) return edgeRow(band + 1, false);
                return buffer.row(y);
            };
            if (top + 1 < bottom) collideRow(top + 1, buffer.row(top + 1), nullptr);
            for (int y = top; y <= bottom; ++y) {
                const DirectionMajorRows around{{collidedRow(y - 1), collidedRow(y), collidedRow(y + 1)},
                                           static_cast<size_t>(pass.width)};
                RowStreamer streamer(stream, y, around);
                if (y + 2 < bottom) collideRow(y + 2, buffer.row(y + 2), &streamer);
                streamer.finish();
            }
        }
        cpu_runtime::finishCopiesBypassingCache();
    });
    if (pass.movedBytes != nullptr) {
        // f read (unless the first step starts from still water) and the
        // rows written back; fStream and h written; each force segment
        // touched read and written once.
        const unsigned long long cells = static_cast<unsigned long long>(pass.width) * pass.height;
        *pass.movedBytes = (pass.fInitialized ? cells * 36 : 0) + rowsWrittenInPlace.load() * rowFloats * 4 +
                           cells * (36 + 4) + forceSegments.load() * kZeroSegmentCells * 4 * 2;
    }
    return deferWriteBack ? FramePassRun::kWriteBackDeferred : FramePassRun::kFWritten;
}

}  // namespace CPU_KERNELS
