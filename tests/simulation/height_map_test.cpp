// The depth-to-pixel kernel through its launcher: the grey ramp between the
// two ramp depths, its ends, NaN, truncation and the pixel word's layout.
#include <cmath>
#include <limits>
#include <vector>

#include "kernels/kernel_launch.h"
#include "tests/support/device_test_support.h"
#include "tests/support/reference_model.h"

namespace {

constexpr int kBlockSize = 576;
constexpr int kCells = 2 * kBlockSize;
constexpr uint32_t kMinHeightBits = 0x3D4AC083u;  // 0.0495f, drawn black
constexpr uint32_t kMaxHeightBits = 0x3D4ED917u;  // 0.0505f, drawn white

uint32_t greyWord(uint32_t level)
{
    return 0xFF000000u | (level << 16) | (level << 8) | level;
}

class HeightMapKernel : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&depths_), kCells * sizeof(float)), cudaSuccess);
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&pixels_), kCells * sizeof(uint32_t)), cudaSuccess);
        // Anything the kernel leaves unwritten shows up as this word.
        ASSERT_EQ(cudaMemset(pixels_, 0x5A, kCells * sizeof(uint32_t)), cudaSuccess);
    }

    void TearDown() override
    {
        cudaFree(depths_);
        cudaFree(pixels_);
        DeviceTest::TearDown();
    }

    // Runs the kernel over depths (padded to the launch with still water)
    // and returns the pixel word of every cell.
    std::vector<uint32_t> pixelsFor(std::vector<float> depths)
    {
        depths.resize(kCells, 0.05f);
        writeDevice(depths_, depths);
        launchHeightMapToTexture(dim3(kCells / kBlockSize), dim3(kBlockSize), depths_, pixels_);
        EXPECT_EQ(cudaGetLastError(), cudaSuccess);
        return readDevice(pixels_, kCells);
    }

    float* depths_ = nullptr;
    uint32_t* pixels_ = nullptr;
};

TEST_F(HeightMapKernel, RampEndsNanAndTruncation)
{
    const float lo = floatFromBits(kMinHeightBits);
    const float hi = floatFromBits(kMaxHeightBits);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float depth;
        uint32_t word;
    };
    const std::vector<Case> cases = {
        {0.05f, 0xFF7F7F7Fu},  // still water: 127.5 truncates to 127, not 128
        {0.05005f, 0xFF8C8C8Cu},  // 140.25
        {lo, 0xFF000000u},
        {std::nextafter(lo, 0.0f), 0xFF000000u},
        {0.0f, 0xFF000000u},
        {-0.05f, 0xFF000000u},
        {-inf, 0xFF000000u},
        {nan, 0xFF000000u},
        {-nan, 0xFF000000u},
        {std::nextafter(hi, 0.0f), 0xFFFEFEFEu},  // the last step below white
        {hi, 0xFFFFFFFFu},
        {std::nextafter(hi, 1.0f), 0xFFFFFFFFu},
        {1.0f, 0xFFFFFFFFu},
        {inf, 0xFFFFFFFFu},
    };
    std::vector<float> depths;
    for (const Case& c : cases) depths.push_back(c.depth);
    const std::vector<uint32_t> pixels = pixelsFor(depths);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(pixels[i], cases[i].word) << "depth " << cases[i].depth << " (bits " << std::hex
                                            << bitsOf(cases[i].depth) << ")";
    // The bytes in memory are grey, grey, grey, opaque.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&pixels[0]);
    EXPECT_EQ(bytes[0], 0x7F);
    EXPECT_EQ(bytes[1], 0x7F);
    EXPECT_EQ(bytes[2], 0x7F);
    EXPECT_EQ(bytes[3], 0xFF);
}

TEST_F(HeightMapKernel, EveryCellGetsTheGreyOfItsOwnDepth)
{
    // A sweep from below black to above white, one depth per cell, so that
    // a pixel written for the wrong cell breaks the order.
    const double lo = floatFromBits(kMinHeightBits);
    const double hi = floatFromBits(kMaxHeightBits);
    std::vector<float> depths(kCells);
    for (int i = 0; i < kCells; ++i) depths[i] = static_cast<float>(0.0494 + 0.0012 * i / (kCells - 1));
    const std::vector<uint32_t> pixels = pixelsFor(depths);

    uint32_t previousLevel = 0;
    for (int i = 0; i < kCells; ++i) {
        const uint32_t level = pixels[i] & 0xFFu;
        ASSERT_EQ(pixels[i], greyWord(level)) << "cell " << i << " is not an opaque grey";
        ASSERT_GE(level, previousLevel) << "cell " << i;
        previousLevel = level;
        // Against the ramp in double precision: truncation, not rounding.
        const double t = (depths[i] - lo) / (hi - lo) * 255.0;
        const double expected = t < 0.0 ? 0.0 : (t > 255.0 ? 255.0 : std::floor(t));
        if (std::fabs(t - std::round(t)) > 1e-3) {
            ASSERT_EQ(level, static_cast<uint32_t>(expected)) << "cell " << i << " t " << t;
        }
    }
    EXPECT_EQ(pixels.front(), greyWord(0));
    EXPECT_EQ(pixels.back(), greyWord(255));
}

// A depth range set at run time moves both ends of the ramp: black up to
// and at the black depth, white above the white depth, the formula's grey
// between (against the reference), for a narrow range, a wide one and the
// widest the setting takes; a refused range changes nothing.
TEST_F(HeightMapKernel, SetDepthRangeMovesTheRampsEnds)
{
    DefaultSettingsAfterwards restore;
    struct Range {
        float black;
        float white;
    };
    const Range ranges[] = {{0.0499f, 0.0501f}, {0.04f, 0.06f}, {std::nextafter(0.0f, 1.0f), kDeepestDrawnDepth}};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Range refused[] = {{0.05f, 0.05f},  {0.051f, 0.05f}, {0.0f, 0.05f},   {-0.01f, 0.05f},
                             {0.04f, std::nextafter(kDeepestDrawnDepth, 1.0f)}, {nan, 0.05f}, {0.04f, nan},
                             {0.04f, INFINITY}};
    for (const Range& range : ranges) {
        SCOPED_TRACE(testing::Message() << "range " << range.black << " to " << range.white);
        ASSERT_TRUE(setDepthRange(range.black, range.white));
        for (const Range& bad : refused) EXPECT_FALSE(setDepthRange(bad.black, bad.white)) << bad.black << ", " << bad.white;

        std::vector<float> depths = {range.black,
                                     std::nextafter(range.black, 0.0f),
                                     std::nextafter(range.black, 1.0f),
                                     range.white,
                                     std::nextafter(range.white, 0.0f),
                                     std::nextafter(range.white, 1.0f),
                                     0.0f,
                                     nan};
        const double span = static_cast<double>(range.white) - range.black;
        for (int i = 0; depths.size() < static_cast<size_t>(kCells); ++i)
            depths.push_back(static_cast<float>(range.black - 0.05 * span + 1.1 * span * i / (kCells - 9)));
        const std::vector<uint32_t> pixels = pixelsFor(depths);
        EXPECT_EQ(pixels[0], greyWord(0)) << "the black depth is black";
        EXPECT_EQ(pixels[1], greyWord(0));
        EXPECT_EQ(pixels[3], greyWord(255)) << "the white depth is white";
        EXPECT_EQ(pixels[4], greyWord(254)) << "just below it, the last step";
        EXPECT_EQ(pixels[5], greyWord(255));
        EXPECT_EQ(pixels[6], greyWord(0));
        EXPECT_EQ(pixels[7], greyWord(0));
        std::vector<uint32_t> expected(kCells);
        for (int i = 0; i < kCells; ++i) expected[i] = reference::depthToPixel(depths[i], range.black, range.white);
        EXPECT_TRUE(sameBits(pixels, expected, kCells));
    }
}

}  // namespace
