// What the frame pass knows about device buffers beyond their contents:
// the distributions whose write-back it deferred, and the zero mask of each
// force field. Every launch and runtime call that touches memory reports
// here first (an Access), so that a deferred write-back is done before
// anything could observe the buffer, and the mask cleared wherever a call
// writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "cpu_backend/kernels/kernel_set.h"
#include "kernels/kernel_support.h"

namespace cpu_kernels {

// A byte range of memory, [begin, end).
struct Range {
    uintptr_t begin;
    uintptr_t end;

    static Range ofFloats(const void* p, unsigned long long count);
    static Range ofBytes(const void* p, size_t count);  // clamped at the top of the address space
    bool overlaps(const Range& other) const { return begin < other.end && other.begin < end; }
    bool operator==(const Range& other) const { return begin == other.begin && end == other.end; }
};

// What a launch or runtime call is about to read and write: a few ranges,
// or anywhere (a launch whose extent is not plain, a synchronisation).
struct Access {
    static constexpr int kMostRanges = 5;
    struct Use {
        Range range;
        bool written;
    };
    Use uses[kMostRanges];
    int count = 0;
    bool anywhere = false;

    static Access everywhere();
    // Adds a range; past kMostRanges the access counts as anywhere.
    void add(const Range& range, bool written);
    void addFloats(const void* p, unsigned long long floats, bool written) { add(Range::ofFloats(p, floats), written); }
    bool writes(const Range& range) const;
    bool touches(const Range& range) const;
};

// Collided values of f that a frame pass streamed into `streamed` and did
// not write back. Streaming moved each of them to exactly one place, so the
// write-back is the inverse streaming of `streamed` (KernelSet::unstream).
struct DeferredWriteBack {
    const KernelSet* set;
    float* f;
    const float* streamed;
    int width;
    int height;

    Range fRange() const;
    Range streamedRange() const;
    // Writes the values back to f.
    void perform() const;
};

class BufferBookkeeping {
public:
    static BufferBookkeeping& instance();

    // Deferred write-back.
    void defer(const DeferredWriteBack& writeBack);
    // Takes out the write-backs due before `access`: those whose f it may
    // read or write, or whose streamed array it may change. The caller
    // performs them.
    std::vector<DeferredWriteBack> takeDue(const Access& access);
    // Before a frame pass on `step`: drops the write-back into the pass's
    // streaming target (the pass overwrites all of it, and reads none of
    // it elsewhere), and takes out those due before the pass.
    std::vector<DeferredWriteBack> takeDueBeforeFramePass(const FramePass& pass);
    // Performs write-backs taken out (outside the lock), and counts them.
    void perform(const std::vector<DeferredWriteBack>& due);
    unsigned long long writeBacksPerformed() const;

    // Zero mask: per force field, which segments of kZeroSegmentCells cells
    // hold only +0.0 (-0.0 and subnormals are ordinary values).
    // Clears the mask wherever `access` writes (every mask, for anywhere).
    void clearZeroMasks(const Access& access);
    // Marks a whole field of `cells` cells as holding only +0.0, creating
    // its mask (for a launch that cleared it).
    void markFieldZero(const float* field, unsigned long long cells);
    // Clears the masks of every field but the pass's force fields where the
    // pass writes, and gives the pass the masks of its two fields.
    void attachZeroMasks(FramePass* pass);

private:
    struct ZeroMask {
        const float* field;
        unsigned long long cells;  // a multiple of kZeroSegmentCells
        std::vector<uint8_t> zero;  // per segment: 1 where it holds only +0.0

        Range range() const { return Range::ofFloats(field, cells); }
        void clear(const Range& written);
    };
    // Under the lock:
    ZeroMask& zeroMaskOf(const float* field, unsigned long long cells);
    // Marks the segments wholly within `filled` as holding only +0.0.
    void markZeroLocked(const Range& filled);

    std::mutex mutex_;
    std::vector<DeferredWriteBack> deferred_;  // at most one per distribution array
    std::vector<ZeroMask> zeroMasks_;
    std::atomic<unsigned long long> performed_{0};
};

}  // namespace cpu_kernels
