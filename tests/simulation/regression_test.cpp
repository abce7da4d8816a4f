// The program's frames on the application's grid, with the real rain,
// against the reference frame by frame, and against the hashes and values
// this run has always produced (the settings' defaults written half way). The rain's generator is one stream for the
// process, so this program holds this one test.
#include <cinttypes>

#include "model/grid_size.h"
#include "model/simulation_step.h"
#include "tests/support/reference_model.h"
#include "tests/support/device_test_support.h"
#include "tests/support/regression_hashes.h"
#include "tools/fnv1a.h"

namespace {

constexpr int kFrames = kRegressionFrames;
constexpr uint64_t kDepthHash = kRegressionDepthHash;
constexpr uint64_t kPixelHash = kRegressionPixelHash;

struct Sample {
    const char* what;
    int x, y;
    uint32_t depthBits;
    uint32_t pixel;
};

// Values at a few cells after kFrames frames, for a quick look at what
// changed when the hashes do: the drop's centre, its ring, and still water
// far away.
constexpr Sample kSamples[] = {
    {"drop centre", 1445, 708, 0x3D4CBAF3u, 0xFF7B7B7Bu},
    {"east, 5 cells out", 1450, 708, 0x3D4CB874u, 0xFF7A7A7Au},
    {"north, 5 cells out", 1445, 713, 0x3D4CB874u, 0xFF7A7A7Au},
    {"east, 45 cells out", 1490, 708, 0x3D4CC844u, 0xFF7E7E7Eu},
    {"still water", 100, 100, 0x3D4CCCD0u, 0xFF7F7F7Fu},
};

TEST(Regression, FramesWithRainMatchTheReferenceAndTheKnownResults)
{
    ModelPtr model = makeModel(kGridWidth, kGridHeight);
    ASSERT_NE(model, nullptr);
    unsigned int* pixels = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&pixels), cellsOf(*model) * sizeof(unsigned int)), cudaSuccess);

    reference::Model expected(kGridWidth, kGridHeight);
    reference::RainSchedule rain;
    int32_t frameCounter = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        // The defaults written explicitly, before the first drop, change no bit.
        if (frame == kFrames / 2) {
            ASSERT_TRUE(setRelaxationFactor(kDefaultRelaxation));
            ASSERT_TRUE(setDepthRange(kDefaultBlackDepth, kDefaultWhiteDepth));
        }
        advanceOneStep(*model, frameCounter);
        ASSERT_EQ(model->writeDepthPixels(pixels), cudaSuccess);
        reference::advanceFrame(expected, frame == 0, rain.nextFrame());
        ASSERT_TRUE(sameBits(readScalarField(*model, model->h), expected.h, kGridWidth)) << "frame " << frame + 1;
    }
    EXPECT_EQ(frameCounter, kFrames);

    const auto depth = readScalarField(*model, model->h);
    const auto pixelWords = readDevice(reinterpret_cast<const uint32_t*>(pixels), cellsOf(*model));
    EXPECT_TRUE(sameBits(pixelWords, expected.pixels, kGridWidth));
    EXPECT_TRUE(sameBits(readDistribution(*model, model->f), expected.f, kGridWidth, 9));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fx), expected.fx, kGridWidth));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fy), expected.fy, kGridWidth));

    for (const Sample& sample : kSamples) {
        const size_t i = static_cast<size_t>(sample.y) * kGridWidth + sample.x;
        EXPECT_EQ(bitsOf(depth[i]), sample.depthBits)
            << sample.what << ": depth " << depth[i] << ", bits 0x" << std::hex << bitsOf(depth[i]);
        EXPECT_EQ(pixelWords[i], sample.pixel) << sample.what << ": pixel 0x" << std::hex << pixelWords[i];
    }
    EXPECT_EQ(fnv1a64(depth), kDepthHash) << std::hex << "h-fnv1a64: " << fnv1a64(depth);
    EXPECT_EQ(fnv1a64(pixelWords), kPixelHash) << std::hex << "pixels-fnv1a64: " << fnv1a64(pixelWords);

    EXPECT_EQ(cudaFree(pixels), cudaSuccess);
}

}  // namespace
