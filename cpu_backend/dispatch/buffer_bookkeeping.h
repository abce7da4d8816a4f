// What the step pass knows about device buffers beyond their contents:
// the distributions it left direction-major, and the zero mask of each
// force field. Every launch and runtime call that touches memory reports
// here first (an Access), so that the cell order is restored before
// anything could observe the distributions, and the mask cleared wherever
// a call writes.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

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
// or anywhere (a launch whose extent is not plain).
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
    bool touches(const Range& range) const;
};

// Distributions that a step pass left direction-major: `collided` holds a
// step's collided values in that order, and their streaming into
// `streamed` is deferred (step_pass.h). Both ranges are dirty: either may
// be observed only once the write-back has restored the launches' cell
// order (KernelSet::restoreCellMajor).
struct DirectionMajorPair {
    const KernelSet* set;
    float* collided;
    float* streamed;
    int width;
    int height;

    Range collidedRange() const;
    Range streamedRange() const;
};

class BufferBookkeeping {
public:
    static BufferBookkeeping& instance();

    // Direction-major distributions.
    void holdDirectionMajor(const DirectionMajorPair& pair);
    // Takes out the pairs that `access` touches: those it may read or
    // write in any part. The caller restores them.
    std::vector<DirectionMajorPair> takeTouched(const Access& access);
    // Before a step pass: takes out the pair that the pass continues (its
    // collided values in the pass's fStream, their streaming deferred to
    // its f, on the same grid, no other array of the pass in either) and
    // says so in the pass, and takes out those the pass touches otherwise.
    std::vector<DirectionMajorPair> takeTouchedByStepPass(StepPass* pass);
    // Restores pairs taken out (outside the lock), and counts them.
    void restore(const std::vector<DirectionMajorPair>& touched);
    unsigned long long restorations() const;

    // Zero mask: per force field, which lines of kZeroMaskLineCells cells
    // hold only +0.0 (-0.0 and subnormals are ordinary values).
    // Clears the mask wherever `access` writes (every mask, for anywhere).
    void clearZeroMasks(const Access& access);
    // Marks a whole field of `cells` cells as holding only +0.0, creating
    // its mask (for a launch that cleared it).
    void markFieldZero(const float* field, unsigned long long cells);
    // Clears the masks of every field but the pass's force fields where the
    // pass writes, and gives the pass the masks of its two fields.
    void attachZeroMasks(StepPass* pass);

private:
    struct ZeroMask {
        const float* field;
        unsigned long long cells;  // a multiple of kZeroMaskLineCells
        std::vector<uint8_t> zero;  // per line: 1 where it holds only +0.0

        Range range() const { return Range::ofFloats(field, cells); }
        void clear(const Range& written);
    };
    // Under the lock:
    ZeroMask& zeroMaskOf(const float* field, unsigned long long cells);
    // Marks the lines wholly within `filled` as holding only +0.0.
    void markZeroLocked(const Range& filled);

    std::mutex mutex_;
    std::vector<DirectionMajorPair> directionMajor_;  // no two share an array
    std::vector<ZeroMask> zeroMasks_;
    std::atomic<unsigned long long> restored_{0};
};

}  // namespace cpu_kernels
