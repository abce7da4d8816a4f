// The direction-major distributions and zero masks of the step pass.
#include "buffer_bookkeeping.h"

#include "kernels/device_constants.h"

#include <algorithm>

namespace cpu_kernels {

Range Range::ofFloats(const void* p, unsigned long long count)
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    return {begin, begin + static_cast<uintptr_t>(count * sizeof(float))};
}

Range Range::ofBytes(const void* p, size_t count)
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    return {begin, begin + count < begin ? UINTPTR_MAX : begin + count};
}

Access Access::everywhere()
{
    Access access;
    access.anywhere = true;
    return access;
}

void Access::add(const Range& range, bool written)
{
    if (count == kMostRanges)
        anywhere = true;
    else
        uses[count++] = {range, written};
}

bool Access::touches(const Range& range) const
{
    if (anywhere) return true;
    for (int u = 0; u < count; ++u)
        if (uses[u].range.overlaps(range)) return true;
    return false;
}

Range DirectionMajorPair::collidedRange() const
{
    return Range::ofFloats(collided, static_cast<unsigned long long>(width) * height * kDirections);
}

Range DirectionMajorPair::streamedRange() const
{
    return Range::ofFloats(streamed, static_cast<unsigned long long>(width) * height * kDirections);
}

BufferBookkeeping& BufferBookkeeping::instance()
{
    static BufferBookkeeping* bookkeeping = new BufferBookkeeping;
    return *bookkeeping;
}

void BufferBookkeeping::holdDirectionMajor(const DirectionMajorPair& pair)
{
    std::lock_guard<std::mutex> lock(mutex_);
    directionMajor_.push_back(pair);
}

std::vector<DirectionMajorPair> BufferBookkeeping::takeTouched(const Access& access)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DirectionMajorPair> touched;
    auto isTouched = [&](const DirectionMajorPair& p) {
        return access.touches(p.collidedRange()) || access.touches(p.streamedRange());
    };
    std::copy_if(directionMajor_.begin(), directionMajor_.end(), std::back_inserter(touched), isTouched);
    directionMajor_.erase(std::remove_if(directionMajor_.begin(), directionMajor_.end(), isTouched),
                          directionMajor_.end());
    return touched;
}

std::vector<DirectionMajorPair> BufferBookkeeping::takeTouchedByStepPass(StepPass* pass)
{
    const unsigned long long cells = static_cast<unsigned long long>(pass->width) * pass->height;
    Access others;  // the pass's arrays other than its distributions
    others.addFloats(pass->fx, cells, true);
    others.addFloats(pass->fy, cells, true);
    others.addFloats(pass->h, cells, true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto continued = [&](const DirectionMajorPair& p) {
            return p.collided == pass->fStream && p.streamed == pass->f && p.width == pass->width &&
                   p.height == pass->height && !others.touches(p.collidedRange()) &&
                   !others.touches(p.streamedRange());
        };
        const auto found = std::find_if(directionMajor_.begin(), directionMajor_.end(), continued);
        pass->collidedInFStream = found != directionMajor_.end();
        if (pass->collidedInFStream) directionMajor_.erase(found);
    }
    others.addFloats(pass->f, cells * kDirections, true);
    others.addFloats(pass->fStream, cells * kDirections, true);
    return takeTouched(others);
}

unsigned long long BufferBookkeeping::restorations() const
{
    return restored_.load();
}

void BufferBookkeeping::restore(const std::vector<DirectionMajorPair>& touched)
{
    // A pass ran on these arrays, so the streaming follows a stencil table.
    for (const DirectionMajorPair& p : touched) p.set->restoreCellMajor(p.collided, p.streamed, p.width, p.height);
    restored_.fetch_add(touched.size());
}

void BufferBookkeeping::ZeroMask::clear(const Range& written)
{
    const Range own = range();
    if (!written.overlaps(own)) return;
    constexpr uintptr_t lineBytes = kZeroMaskLineCells * sizeof(float);
    const uintptr_t first = (std::max(written.begin, own.begin) - own.begin) / lineBytes;
    const uintptr_t end = (std::min(written.end, own.end) - own.begin + lineBytes - 1) / lineBytes;
    std::fill(zero.begin() + static_cast<std::ptrdiff_t>(first), zero.begin() + static_cast<std::ptrdiff_t>(end), 0);
}

void BufferBookkeeping::clearZeroMasks(const Access& access)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (access.anywhere) {
        zeroMasks_.clear();
        return;
    }
    for (ZeroMask& mask : zeroMasks_)
        for (int u = 0; u < access.count; ++u)
            if (access.uses[u].written) mask.clear(access.uses[u].range);
}

void BufferBookkeeping::markZeroLocked(const Range& filled)
{
    constexpr uintptr_t lineBytes = kZeroMaskLineCells * sizeof(float);
    for (ZeroMask& mask : zeroMasks_) {
        const Range own = mask.range();
        if (!filled.overlaps(own)) continue;
        mask.clear(filled);  // partly covered lines
        const uintptr_t first = (std::max(filled.begin, own.begin) - own.begin + lineBytes - 1) / lineBytes;
        const uintptr_t end = (std::min(filled.end, own.end) - own.begin) / lineBytes;
        if (first < end)
            std::fill(mask.zero.begin() + static_cast<std::ptrdiff_t>(first),
                      mask.zero.begin() + static_cast<std::ptrdiff_t>(end), 1);
    }
}

void BufferBookkeeping::markFieldZero(const float* field, unsigned long long cells)
{
    if (cells % kZeroMaskLineCells != 0 || !indicesAreExact(cells)) return;  // cleared as written already
    std::lock_guard<std::mutex> lock(mutex_);
    zeroMaskOf(field, cells);
    markZeroLocked(Range::ofFloats(field, cells));
}

BufferBookkeeping::ZeroMask& BufferBookkeeping::zeroMaskOf(const float* field, unsigned long long cells)
{
    for (ZeroMask& mask : zeroMasks_)
        if (mask.field == field && mask.cells == cells) return mask;
    zeroMasks_.push_back({field, cells, std::vector<uint8_t>(cells / kZeroMaskLineCells, 0)});
    return zeroMasks_.back();
}

void BufferBookkeeping::attachZeroMasks(StepPass* pass)
{
    const unsigned long long cells = static_cast<unsigned long long>(pass->width) * pass->height;
    std::lock_guard<std::mutex> lock(mutex_);
    const Range written[] = {Range::ofFloats(pass->f, cells * kDirections), Range::ofFloats(pass->fStream, cells * kDirections),
                             Range::ofFloats(pass->fx, cells), Range::ofFloats(pass->fy, cells),
                             Range::ofFloats(pass->h, cells)};
    for (ZeroMask& mask : zeroMasks_)
        if (!((mask.field == pass->fx || mask.field == pass->fy) && mask.cells == cells))
            for (const Range& range : written) mask.clear(range);
    if (cells % kZeroMaskLineCells != 0) return;
    // Found or created after the clearing: a field is never its own.
    zeroMaskOf(pass->fx, cells);
    zeroMaskOf(pass->fy, cells);
    pass->fxZeroMask = zeroMaskOf(pass->fx, cells).zero.data();  // the second may have moved the first
    pass->fyZeroMask = zeroMaskOf(pass->fy, cells).zero.data();
}

}  // namespace cpu_kernels
