// The step's model operations on either backend: where a drop's centre
// falls, and drops with values that name no cell or no launch.
#include <cmath>
#include <limits>

#include "model/grid_size.h"
#include "tests/support/device_test_support.h"

namespace {

using StepOperations = ApplicationSizeModelTest;

// The centre is rounded to the nearest cell, halves away from zero: the
// pushes on the four sides of the centre cell show where it is.
TEST_F(StepOperations, DropCentreIsRoundedHalvesAwayFromZero)
{
    const struct {
        float x, y;
        int column, row;
    } cases[] = {{10.5f, 3.5f, 11, 4}, {2.5f, 20.4f, 3, 20}, {40.49f, 1.5f, 40, 2}, {100.0f, 64.6f, 100, 65}};
    const size_t cells = cellsOf(*model);
    for (const auto& c : cases) {
        writeDevice(model->fx, std::vector<float>(cells, 1.0f));
        writeDevice(model->fy, std::vector<float>(cells, 1.0f));
        ASSERT_TRUE(model->addRainDrop(c.x, c.y, 0.0002f, 89.6f));
        const auto fx = readScalarField(*model, model->fx);
        const auto fy = readScalarField(*model, model->fy);
        const size_t centre = static_cast<size_t>(c.row) * kGridWidth + c.column;
        EXPECT_EQ(fx[centre], 0.0f) << c.x << ", " << c.y;
        EXPECT_EQ(fy[centre], 0.0f) << c.x << ", " << c.y;
        EXPECT_GT(fx[centre + 1], 0.0f) << c.x << ", " << c.y;
        EXPECT_LT(fx[centre - 1], 0.0f) << c.x << ", " << c.y;
        EXPECT_GT(fy[centre + kGridWidth], 0.0f) << c.x << ", " << c.y;
        EXPECT_LT(fy[centre - kGridWidth], 0.0f) << c.x << ", " << c.y;
    }
    // -0.5 rounds to -1: the cell at column 0 then lies one cell east of
    // the centre and is pushed east.
    writeDevice(model->fx, std::vector<float>(cells, 0.0f));
    ASSERT_TRUE(model->addRainDrop(-0.5f, 300.0f, 0.0002f, 89.6f));
    EXPECT_GT(readScalarField(*model, model->fx)[300u * kGridWidth], 0.0f);
}

TEST_F(StepOperations, DropsWithUnusableValuesAreSafe)
{
    const size_t cells = cellsOf(*model);
    writeDevice(model->fx, std::vector<float>(cells, 1.0f));
    writeDevice(model->fy, std::vector<float>(cells, 1.0f));
    const float nan = std::nanf("");
    const float infinity = std::numeric_limits<float>::infinity();

    // Centres that are no cell, or far beyond int: launched, nothing written.
    testing::internal::CaptureStdout();
    for (float centre : {nan, 3e9f, -3e9f, infinity, -infinity, 2147483520.0f}) {
        EXPECT_TRUE(model->addRainDrop(centre, 5.0f, 0.0002f, 89.6f)) << centre;
        EXPECT_TRUE(model->addRainDrop(5.0f, centre, 0.0002f, 89.6f)) << centre;
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readScalarField(*model, model->fx), std::vector<float>(cells, 1.0f));
    EXPECT_EQ(readScalarField(*model, model->fy), std::vector<float>(cells, 1.0f));

    // A radius that is not > 0 is no drop (0 would write NaN at the centre):
    // refused as an invalid argument before any launch.
    for (float radius : {0.0f, -0.0f, -1.0f, nan, -infinity}) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(model->addRainDrop(5.0f, 5.0f, 0.0002f, radius)) << radius;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 1: invalid argument.\n") << radius;
        EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "nothing left to report twice";
    }
    // A radius too large for any launch: the runtime refuses the launch.
    for (float radius : {infinity, 1e12f}) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(model->addRainDrop(5.0f, 5.0f, 0.0002f, radius)) << radius;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 9: invalid configuration argument.\n")
            << radius;
    }
    EXPECT_EQ(readScalarField(*model, model->fx), std::vector<float>(cells, 1.0f));
    EXPECT_EQ(readScalarField(*model, model->fy), std::vector<float>(cells, 1.0f));
}

}  // namespace
