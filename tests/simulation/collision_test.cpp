// The fused collision: the first step's still water, rest and uniform force,
// the order of its sums, and bit-for-bit agreement with the reference for
// arbitrary states.
#include <cmath>
#include <random>

#include "kernels/kernel_launch.h"
#include "tests/support/reference_model.h"
#include "tests/support/device_test_support.h"

namespace {

constexpr int kWidth = 48;
constexpr int kHeight = 48;  // 2304 cells, four blocks of 576
constexpr uint32_t kRestBits = 0x3CF22D0Eu;
constexpr uint32_t kAxisBits = 0x3B85F070u;
constexpr uint32_t kDiagonalBits = 0x3A85F070u;
constexpr uint32_t kStillDepthBits = 0x3D4CCCCDu;

uint32_t stillWaterBits(int k)
{
    return k == 0 ? kRestBits : (k % 2 == 1 ? kAxisBits : kDiagonalBits);
}

class Collision : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        model = makeModel(kWidth, kHeight);
        ASSERT_NE(model, nullptr);
    }

    size_t cells() const { return cellsOf(*model); }

    void fillForces(float forceX, float forceY)
    {
        writeDevice(model->fx, std::vector<float>(cells(), forceX));
        writeDevice(model->fy, std::vector<float>(cells(), forceY));
    }

    ModelPtr model;
};

TEST_F(Collision, FirstStepStartsEveryCellFromStillWaterWhateverTheBuffersHeld)
{
    writeDevice(model->f, std::vector<float>(cells() * 9, std::nanf("")));
    writeDevice(model->h, std::vector<float>(cells(), -1.0f));
    ASSERT_TRUE(model->collide(kFromStillWater));

    const auto f = readDistribution(*model, model->f);
    const auto h = readScalarField(*model, model->h);
    for (size_t i = 0; i < cells(); ++i) {
        ASSERT_EQ(bitsOf(h[i]), kStillDepthBits) << "cell " << i;
        for (int k = 0; k < 9; ++k) ASSERT_EQ(bitsOf(f[i * 9 + k]), stillWaterBits(k)) << "cell " << i << " k " << k;
    }
}

TEST_F(Collision, StillWaterStaysStill)
{
    ASSERT_TRUE(model->collide(kFromStillWater));
    for (int step = 0; step < 3; ++step) ASSERT_TRUE(model->collide(kFromDistributions));

    const auto f = readDistribution(*model, model->f);
    const auto h = readScalarField(*model, model->h);
    for (size_t i = 0; i < cells(); ++i) {
        ASSERT_NEAR(h[i], 0.05f, 3e-8f) << "cell " << i;  // a few units in the last place
        double momentumX = 0.0;
        double momentumY = 0.0;
        for (int k = 0; k < 9; ++k) {
            const float expected = floatFromBits(stillWaterBits(k));
            ASSERT_NEAR(f[i * 9 + k], expected, expected * 1e-6f) << "cell " << i << " k " << k;
            momentumX += f[i * 9 + k] * reference::kVelocityX[k];
            momentumY += f[i * 9 + k] * reference::kVelocityY[k];
        }
        ASSERT_NEAR(momentumX, 0.0, 1e-9);
        ASSERT_NEAR(momentumY, 0.0, 1e-9);
    }
}

TEST_F(Collision, UniformForcePushesMomentumAndKeepsTheDepth)
{
    ASSERT_TRUE(model->collide(kFromStillWater));
    const auto still = readDistribution(*model, model->f);
    const float force = 3e-5f;
    fillForces(force, 0.0f);
    ASSERT_TRUE(model->collide(kFromDistributions));

    const auto pushed = readDistribution(*model, model->f);
    const auto h = readScalarField(*model, model->h);
    // Gains and losses of F/6 on the directions with a +x or -x component.
    const float change[9] = {0, 1, 1, 0, -1, -1, -1, 0, 1};
    for (size_t i = 0; i < cells(); ++i) {
        float stillDepth = still[i * 9];
        for (int k = 1; k < 9; ++k) stillDepth += still[i * 9 + k];
        ASSERT_EQ(bitsOf(h[i]), bitsOf(stillDepth)) << "the depth of the values read, cell " << i;
        double depth = 0.0;
        double momentumX = 0.0;
        for (int k = 0; k < 9; ++k) {
            const float delta = pushed[i * 9 + k] - still[i * 9 + k];
            ASSERT_NEAR(delta, change[k] * force / 6.0f, 2e-9f) << "cell " << i << " k " << k;
            depth += pushed[i * 9 + k];
            momentumX += pushed[i * 9 + k] * reference::kVelocityX[k];
        }
        ASSERT_NEAR(depth, 0.05, 1e-8);
        ASSERT_NEAR(momentumX, force, 1e-8);
    }
}

TEST_F(Collision, DepthIsTheLeftToRightSumOfTheValuesRead)
{
    // Summed from the left every small value is lost against the first;
    // any other order keeps some of them.
    const float values[9] = {0.05f, 1e-9f, 1e-9f, 1e-9f, 1e-9f, 1e-9f, 1e-9f, 1e-9f, 1e-9f};
    std::vector<float> f(cells() * 9);
    for (size_t i = 0; i < cells(); ++i)
        for (int k = 0; k < 9; ++k) f[i * 9 + k] = values[k];
    writeDevice(model->f, f);
    ASSERT_TRUE(model->collide(kFromDistributions));

    const auto h = readScalarField(*model, model->h);
    for (size_t i = 0; i < cells(); ++i) ASSERT_EQ(bitsOf(h[i]), bitsOf(0.05f)) << "cell " << i;
}

// Random distributions around flowing water of varied depth, with random
// forces: every cell's nine values and depth must match the reference, at
// the default relaxation factor and at others a setting may give.
TEST_F(Collision, MatchesTheReferenceBitForBitForArbitraryStates)
{
    DefaultSettingsAfterwards restore;
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<float> depth(0.02f, 0.08f);
    std::uniform_real_distribution<float> velocity(-0.3f, 0.3f);
    std::uniform_real_distribution<float> wobble(0.9f, 1.1f);
    std::uniform_real_distribution<float> push(-2e-4f, 2e-4f);

    reference::Model expected(kWidth, kHeight);
    for (int i = 0; i < expected.cellCount(); ++i) {
        float equilibrium[9];
        const float none[9] = {};
        // Seed each cell from an equilibrium with a random velocity, then
        // disturb every value.
        reference::collideCell(none, 0.0f, 0.0f, false, equilibrium);
        const float scale = depth(random) / 0.05f;
        const float u = velocity(random);
        const float v = velocity(random);
        for (int k = 0; k < 9; ++k) {
            const float drift = 1.0f + 0.5f * (u * reference::kVelocityX[k] + v * reference::kVelocityY[k]);
            expected.f[i * 9 + k] = equilibrium[k] * scale * drift * wobble(random);
        }
        // A quarter of the cells without force, to cover the zero term.
        const bool pushed = i % 4 != 0;
        expected.fx[i] = pushed ? push(random) : 0.0f;
        expected.fy[i] = pushed ? push(random) : -0.0f;
    }
    writeDevice(model->fx, expected.fx);
    writeDevice(model->fy, expected.fy);
    const std::vector<float> before = expected.f;

    // A refused setting leaves the factor as it was: the last one accepted.
    const float refused[] = {std::nextafter(kSmallestRelaxation, 0.0f), std::nextafter(kLargestRelaxation, 2.0f),
                             0.0f, 2.0f, std::nanf(""), INFINITY};
    std::vector<float> defaultResult;
    for (const float relaxation : {kDefaultRelaxation, kSmallestRelaxation, 0.9f, kLargestRelaxation}) {
        SCOPED_TRACE(testing::Message() << "relaxation " << relaxation);
        ASSERT_TRUE(setRelaxationFactor(relaxation));
        for (const float value : refused) EXPECT_FALSE(setRelaxationFactor(value)) << value;
        expected.relaxation = relaxation;
        expected.f = before;
        writeDevice(model->f, before);

        ASSERT_TRUE(model->collide(kFromDistributions));
        expected.collide(kFromDistributions);
        EXPECT_TRUE(sameBits(readDistribution(*model, model->f), expected.f, kWidth, 9));
        EXPECT_TRUE(sameBits(readScalarField(*model, model->h), expected.h, kWidth));
        if (relaxation == kDefaultRelaxation)
            defaultResult = expected.f;
        else
            EXPECT_NE(expected.f, defaultResult) << "the factor changes the collided values";

        // The first step applies the forces to still water in the same way.
        ASSERT_TRUE(model->collide(kFromStillWater));
        expected.collide(kFromStillWater);
        EXPECT_TRUE(sameBits(readDistribution(*model, model->f), expected.f, kWidth, 9));
        EXPECT_TRUE(sameBits(readScalarField(*model, model->h), expected.h, kWidth));
    }
}

TEST_F(Collision, ResultDoesNotDependOnTheBlockSize)
{
    std::mt19937 random(7u);
    std::uniform_real_distribution<float> wobble(0.8f, 1.2f);
    std::uniform_real_distribution<float> push(-1e-4f, 1e-4f);
    std::vector<float> f(cells() * 9);
    std::vector<float> fx(cells());
    for (size_t i = 0; i < cells(); ++i) {
        for (int k = 0; k < 9; ++k) f[i * 9 + k] = floatFromBits(stillWaterBits(k)) * wobble(random);
        fx[i] = push(random);
    }
    writeDevice(model->f, f);
    writeDevice(model->fx, fx);
    ASSERT_TRUE(model->collide(kFromDistributions));
    const auto withModelShape = readDistribution(*model, model->f);

    writeDevice(model->f, f);
    launchCollision3(dim3(static_cast<unsigned>(cells() / 64)), dim3(64), model->f, model->fx, model->fy, model->h,
                     true);
    ASSERT_EQ(cudaGetLastError(), cudaSuccess);
    EXPECT_TRUE(sameBits(readDistribution(*model, model->f), withModelShape, kWidth, 9));
}

}  // namespace
