// Whole steps on a smaller basin: the model's fields against the
// reference's bit for bit, and the total volume of water over a long run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>

#include "tests/support/reference_model.h"
#include "tests/support/device_test_support.h"
#include "tests/support/emulator.h"

namespace {

// 73,728 cells, 64 blocks of 576 and 24 x 12 tiles.
constexpr int kWidth = 384;
constexpr int kHeight = 192;

struct Drop {
    int frame;
    float x, y;
};

// One step of the model as a frame makes it, the drops given by the test.
bool step(WaterModel& model, bool firstFrame, const std::vector<Drop>& drops, int frame, unsigned int* pixels)
{
    bool accepted = model.collide(!firstFrame) && model.stream();
    model.swapDistributions();
    accepted = model.decayForces() && accepted;
    for (const Drop& drop : drops)
        if (drop.frame == frame) accepted = model.addRainDrop(drop.x, drop.y, 0.0002f, 89.6f) && accepted;
    return model.writeDepthPixels(pixels) == cudaSuccess && accepted;
}

TEST(ReferenceComparison, StepsWithDropsMatchBitForBit)
{
    ModelPtr model = makeModel(kWidth, kHeight);
    ASSERT_NE(model, nullptr);
    unsigned int* pixels = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&pixels), cellsOf(*model) * sizeof(unsigned int)), cudaSuccess);

    // Drops in the first frame, at a corner, on an edge, overlapping in one
    // frame, and late enough for rings to reach the walls.
    const std::vector<Drop> drops = {{0, 200, 100},  {3, 0, 0},     {5, 383, 60},   {9, 150, 191},
                                     {9, 190, 120},  {12, 260, 30}, {20, 100, 100}, {21, 301.5f, 150.5f}};
    reference::Model expected(kWidth, kHeight);
    constexpr int kSteps = 40;
    for (int frame = 0; frame < kSteps; ++frame) {
        ASSERT_TRUE(step(*model, frame == 0, drops, frame, pixels));
        expected.collide(frame != 0);
        expected.stream();
        expected.swapDistributions();
        expected.decayForces();
        for (const Drop& drop : drops)
            if (drop.frame == frame) expected.addRainDrop(drop.x, drop.y, 0.0002f, 89.6f);
        expected.renderPixels();
        ASSERT_TRUE(sameBits(readScalarField(*model, model->h), expected.h, kWidth)) << "frame " << frame;
    }
    EXPECT_TRUE(sameBits(readDistribution(*model, model->f), expected.f, kWidth, 9));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fx), expected.fx, kWidth));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fy), expected.fy, kWidth));
    EXPECT_TRUE(sameBits(readDevice(reinterpret_cast<const uint32_t*>(pixels), cellsOf(*model)), expected.pixels,
                         kWidth));

    // The water moved: the run did not compare still water with itself.
    const auto h = readScalarField(*model, model->h);
    const auto [lowest, highest] = std::minmax_element(h.begin(), h.end());
    EXPECT_LT(*lowest, 0.0499f);
    EXPECT_GT(*highest, 0.0501f);
    EXPECT_EQ(cudaFree(pixels), cudaSuccess);
}

// Settings written in the middle of a run, between one step's collision and
// its streaming: that collision keeps the factor it was issued with, every
// later one has the new factor, and the frame's image the new range, as the
// reference computes them. Another factor changes the water.
TEST(ReferenceComparison, SettingsWrittenMidStepTakeEffectFromTheNextLaunch)
{
    DefaultSettingsAfterwards restore;
    ModelPtr model = makeModel(kWidth, kHeight);
    ASSERT_NE(model, nullptr);
    unsigned int* pixels = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&pixels), cellsOf(*model) * sizeof(unsigned int)), cudaSuccess);

    constexpr int kSteps = 24;
    constexpr int kSettingStep = 12;
    constexpr float kRelaxation = 1.1f;
    constexpr float kBlack = 0.0499f;
    constexpr float kWhite = 0.0502f;
    const std::vector<Drop> drops = {{0, 200, 100}, {5, 383, 60}, {9, 150, 191}};
    reference::Model expected(kWidth, kHeight);
    reference::Model unchanged(kWidth, kHeight);  // the whole run at the defaults
    for (int frame = 0; frame < kSteps; ++frame) {
        const bool firstFrame = frame == 0;
        bool accepted = model->collide(!firstFrame);
        expected.collide(!firstFrame);
        unchanged.collide(!firstFrame);
        if (frame == kSettingStep) {
            ASSERT_TRUE(setRelaxationFactor(kRelaxation));
            ASSERT_TRUE(setDepthRange(kBlack, kWhite));
            expected.relaxation = kRelaxation;
            expected.blackDepth = kBlack;
            expected.whiteDepth = kWhite;
        }
        accepted = model->stream() && accepted;
        model->swapDistributions();
        accepted = model->decayForces() && accepted;
        for (const Drop& drop : drops)
            if (drop.frame == frame) accepted = model->addRainDrop(drop.x, drop.y, 0.0002f, 89.6f) && accepted;
        ASSERT_EQ(model->writeDepthPixels(pixels), cudaSuccess);
        ASSERT_TRUE(accepted);
        for (reference::Model* reference : {&expected, &unchanged}) {
            reference->stream();
            reference->swapDistributions();
            reference->decayForces();
            for (const Drop& drop : drops)
                if (drop.frame == frame) reference->addRainDrop(drop.x, drop.y, 0.0002f, 89.6f);
            reference->renderPixels();
        }
        ASSERT_TRUE(sameBits(readScalarField(*model, model->h), expected.h, kWidth)) << "frame " << frame;
        ASSERT_TRUE(sameBits(readDevice(reinterpret_cast<const uint32_t*>(pixels), cellsOf(*model)),
                             expected.pixels, kWidth))
            << "frame " << frame;
        if (frame <= kSettingStep) {
            ASSERT_EQ(expected.h, unchanged.h) << "frame " << frame;
        }
    }
    EXPECT_TRUE(sameBits(readDistribution(*model, model->f), expected.f, kWidth, 9));
    EXPECT_NE(expected.h, unchanged.h) << "the factor changed the water";
    EXPECT_NE(expected.pixels, unchanged.pixels);
    EXPECT_EQ(cudaFree(pixels), cudaSuccess);
}

constexpr int kVolumeFrames = 1000;

// The total depth is kept by every step up to single-precision rounding.
// The rain here is about ten times denser per cell than the application's
// (one drop every 50 frames on 1/56 of its area, against about 0.11 drops
// per frame on the whole), so that most of the basin is in motion.
TEST(WaterVolume, StaysConstantOverALongRainyRun)
{
    if (runsUnderEmulator()) GTEST_SKIP() << kTooSlowUnderEmulator;
    ModelPtr model = makeModel(kWidth, kHeight);
    ASSERT_NE(model, nullptr);
    unsigned int* pixels = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&pixels), cellsOf(*model) * sizeof(unsigned int)), cudaSuccess);

    std::mt19937 random(99u);
    std::vector<Drop> drops;
    for (int frame = 10; frame < kVolumeFrames; frame += 50) {
        drops.push_back({frame, static_cast<float>(random() % kWidth), static_cast<float>(random() % kHeight)});
    }
    auto volume = [&] {
        const auto h = readScalarField(*model, model->h);
        return std::accumulate(h.begin(), h.end(), 0.0);
    };
    ASSERT_TRUE(step(*model, true, drops, 0, pixels));
    const double initial = volume();
    EXPECT_EQ(initial, static_cast<double>(0.05f) * kWidth * kHeight);

    double largestDrift = 0.0;
    double lowestDepth = 1.0;
    for (int frame = 1; frame < kVolumeFrames; ++frame) {
        ASSERT_TRUE(step(*model, false, drops, frame, pixels));
        if (frame % 100 == 99) {
            largestDrift = std::max(largestDrift, std::fabs(volume() - initial) / initial);
            const auto h = readScalarField(*model, model->h);
            lowestDepth = std::min<double>(lowestDepth, *std::min_element(h.begin(), h.end()));
        }
    }
    const double finalDrift = (volume() - initial) / initial;
    RecordProperty("relative_volume_drift", std::to_string(finalDrift));
    std::printf("relative volume drift after %d frames: %.3g (largest %.3g); lowest depth %.6f\n", kVolumeFrames,
                finalDrift, largestDrift, lowestDepth);
    EXPECT_LT(std::fabs(finalDrift), 2e-5);
    EXPECT_LT(largestDrift, 2e-5);
    EXPECT_LT(lowestDepth, 0.0499) << "the rain stirred the basin";
    EXPECT_EQ(cudaFree(pixels), cudaSuccess);
}

}  // namespace
