// The step pass's bookkeeping at its edges: which accesses make
// direction-major distributions to be restored to cell order, which pass
// continues from them, and which zero-mask lines a write clears. The
// step pass tests see these only through whole steps; an off-by-one here
// would show there as a stale value only by chance.
#include <gtest/gtest.h>

#include <vector>

#include "cpu_backend/dispatch/buffer_bookkeeping.h"

namespace {

using cpu_kernels::Access;
using cpu_kernels::BufferBookkeeping;
using cpu_kernels::DirectionMajorPair;

constexpr int kWidth = 16;
constexpr int kHeight = 4;
constexpr size_t kCells = kWidth * kHeight;

struct Arrays {
    std::vector<float> f = std::vector<float>(kCells * 9);
    std::vector<float> fStream = std::vector<float>(kCells * 9);
    std::vector<float> fx = std::vector<float>(kCells);
    std::vector<float> fy = std::vector<float>(kCells);
    std::vector<float> h = std::vector<float>(kCells);

    StepPass pass(float* streamInto)
    {
        StepPass p;
        p.f = fStream.data(), p.fStream = streamInto, p.fx = fx.data(), p.fy = fy.data(), p.h = h.data();
        p.width = kWidth, p.height = kHeight;
        return p;
    }
};

Access oneFloat(const float* at, bool written)
{
    Access access;
    access.addFloats(at, 1, written);
    return access;
}

TEST(BufferBookkeeping, DirectionMajorDistributionsAreDueExactlyWhenEitherArrayCouldBeSeen)
{
    Arrays a;
    BufferBookkeeping book;
    const DirectionMajorPair pair{nullptr, a.f.data(), a.fStream.data(), kWidth, kHeight};
    book.holdDirectionMajor(pair);
    EXPECT_TRUE(book.takeTouched(oneFloat(a.h.data(), true)).empty()) << "another array";
    EXPECT_TRUE(book.takeTouched(oneFloat(a.f.data() + kCells * 9, true)).empty()) << "just past the collided values";
    EXPECT_EQ(book.takeTouched(oneFloat(a.fStream.data() + kCells * 9 - 1, false)).size(), 1u)
        << "the streamed array's last value, read";
    EXPECT_TRUE(book.takeTouched(Access::everywhere()).empty()) << "taken out once";

    book.holdDirectionMajor(pair);
    EXPECT_EQ(book.takeTouched(oneFloat(a.f.data(), false)).size(), 1u) << "the collided values' first, read";

    Access crowded;  // more ranges than an access holds: anywhere
    for (int i = 0; i <= Access::kMostRanges; ++i) crowded.addFloats(a.h.data() + i, 1, false);
    book.holdDirectionMajor(pair);
    EXPECT_EQ(book.takeTouched(crowded).size(), 1u);

    // The next step's pass, with the two arrays exchanged, continues from
    // the collided values: taken over, nothing restored.
    book.holdDirectionMajor(pair);
    StepPass next = a.pass(a.f.data());
    EXPECT_TRUE(book.takeTouchedByStepPass(&next).empty());
    EXPECT_TRUE(next.collidedInFStream);
    EXPECT_TRUE(book.takeTouched(Access::everywhere()).empty()) << "taken over, not kept";

    // A pass on the same arrays without the exchange reads the collided
    // array as f: restored first.
    book.holdDirectionMajor(pair);
    StepPass again = a.pass(a.fStream.data());
    again.f = a.f.data();
    EXPECT_EQ(book.takeTouchedByStepPass(&again).size(), 1u);
    EXPECT_FALSE(again.collidedInFStream);
}

TEST(BufferBookkeeping, AWriteClearsEveryMaskLineItTouchesAndNoOther)
{
    Arrays a;
    BufferBookkeeping book;
    book.markFieldZero(a.fx.data(), kCells);
    book.markFieldZero(a.fy.data(), kCells);
    Access write;
    write.addFloats(a.fx.data() + 15, 2, true);  // the last cell of line 0, the first of line 1
    write.addFloats(a.fy.data() + 47, 1, false);  // read only
    book.clearZeroMasks(write);
    StepPass pass = a.pass(a.f.data());
    book.attachZeroMasks(&pass);
    ASSERT_NE(pass.fxZeroMask, nullptr);
    ASSERT_NE(pass.fyZeroMask, nullptr);
    EXPECT_EQ(std::vector<int>(pass.fxZeroMask, pass.fxZeroMask + kCells / kZeroMaskLineCells),
              std::vector<int>({0, 0, 1, 1}));
    EXPECT_EQ(std::vector<int>(pass.fyZeroMask, pass.fyZeroMask + kCells / kZeroMaskLineCells),
              std::vector<int>({1, 1, 1, 1}));

    // A pass writing into a masked field that is not one of its forces
    // clears that field's mask.
    Arrays other;
    book.markFieldZero(other.fx.data(), kCells);
    StepPass intoOther = a.pass(a.f.data());
    intoOther.h = other.fx.data();
    book.attachZeroMasks(&intoOther);
    StepPass ofOther = other.pass(other.f.data());
    book.attachZeroMasks(&ofOther);
    EXPECT_EQ(std::vector<int>(ofOther.fxZeroMask, ofOther.fxZeroMask + kCells / kZeroMaskLineCells),
              std::vector<int>({0, 0, 0, 0}));
}

}  // namespace
