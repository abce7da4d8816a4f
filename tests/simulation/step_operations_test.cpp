// The step's model operations: their launch shapes, the drop's centre and
// block count, and what each does when the runtime rejects a launch.
#include <cmath>
#include <limits>

#include "app/grid_size.h"
#include "simulation_test_support.h"

namespace {

using cpu_runtime::LaunchRecord;

void expectShape(const LaunchRecord& launch, const char* kernel, dim3 grid, dim3 block)
{
    EXPECT_EQ(launch.kernel, kernel);
    EXPECT_EQ(launch.grid.x, grid.x) << kernel;
    EXPECT_EQ(launch.grid.y, grid.y) << kernel;
    EXPECT_EQ(launch.grid.z, grid.z) << kernel;
    EXPECT_EQ(launch.block.x, block.x) << kernel;
    EXPECT_EQ(launch.block.y, block.y) << kernel;
    EXPECT_EQ(launch.block.z, block.z) << kernel;
    EXPECT_EQ(launch.status, cudaSuccess) << kernel;
}

class StepLaunches : public ApplicationSizeModelTest {
protected:
    void SetUp() override
    {
        ApplicationSizeModelTest::SetUp();
        cpu_runtime::recordLaunches(true);
    }
};

TEST_F(StepLaunches, OneStepUsesTheFixedShapesOnTheApplicationGrid)
{
    ASSERT_TRUE(model->collide(false));
    ASSERT_TRUE(model->stream());
    model->swapDistributions();
    ASSERT_TRUE(model->decayForces());
    ASSERT_TRUE(model->addRainDrop(1000.0f, 500.0f, 0.0002f, 89.6f));

    const auto launches = cpu_runtime::recordedLaunches();
    ASSERT_EQ(launches.size(), 5u);
    expectShape(launches[0], "kCollision3", dim3(7168), dim3(576));
    expectShape(launches[1], "kStream", dim3(168, 96), dim3(18, 18));
    expectShape(launches[2], "kIncrementForce", dim3(7168), dim3(576));
    expectShape(launches[3], "kIncrementForce", dim3(7168), dim3(576));
    expectShape(launches[4], "kRainDrop", dim3(12, 12), dim3(16, 16));
}

TEST_F(StepLaunches, DropBlocksFollowTheRadius)
{
    const struct {
        float radius;
        unsigned blocks;
    } cases[] = {{89.6f, 12}, {7.9f, 1}, {8.0f, 2}, {0.5f, 1}, {23.99f, 3}, {24.0f, 4}};
    for (const auto& c : cases) {
        cpu_runtime::clearRecordedLaunches();
        ASSERT_TRUE(model->addRainDrop(500.0f, 500.0f, 0.0002f, c.radius));
        const auto launches = cpu_runtime::recordedLaunches();
        ASSERT_EQ(launches.size(), 1u);
        expectShape(launches[0], "kRainDrop", dim3(c.blocks, c.blocks), dim3(16, 16));
    }
}

// The centre is rounded to the nearest cell, halves away from zero: the
// pushes on the four sides of the centre cell show where it is.
TEST_F(StepLaunches, DropCentreIsRoundedHalvesAwayFromZero)
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

class StepFailures : public CpuRuntimeTest {
protected:
    void SetUp() override
    {
        CpuRuntimeTest::SetUp();
        model = makeModel(144, 16);
        ASSERT_NE(model, nullptr);
        cpu_runtime::recordLaunches(true);
        cpu_runtime::clearRecordedLaunches();
    }

    ModelPtr model;
};

TEST_F(StepFailures, RejectedLaunchIsReportedOnceAndTheModelStaysUsable)
{
    const char* const line = "CUDA Runtime API error 701: too many resources requested for launch.\n";
    struct Operation {
        const char* name;
        bool (*run)(WaterModel&);
    } operations[] = {
        {"collide", [](WaterModel& m) { return m.collide(true); }},
        {"stream", [](WaterModel& m) { return m.stream(); }},
        {"addRainDrop", [](WaterModel& m) { return m.addRainDrop(70.0f, 8.0f, 0.0002f, 89.6f); }},
    };
    for (const Operation& operation : operations) {
        cpu_runtime::failCall("cudaLaunchKernel", 1, cudaErrorLaunchOutOfResources);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(operation.run(*model)) << operation.name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), line) << operation.name;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(operation.run(*model)) << operation.name << " after the failure";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << operation.name;
    }
}

TEST_F(StepFailures, DecayStopsAtTheFirstRejectedLaunch)
{
    const size_t cells = cellsOf(*model);
    writeDevice(model->fx, std::vector<float>(cells, 3e-5f));
    writeDevice(model->fy, std::vector<float>(cells, 3e-5f));

    cpu_runtime::failCall("cudaLaunchKernel", 1, cudaErrorLaunchOutOfResources);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(model->decayForces());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CUDA Runtime API error 701: too many resources requested for launch.\n");
    auto launches = cpu_runtime::recordedLaunches();
    ASSERT_EQ(launches.size(), 1u) << "fy is not launched after fx failed";
    EXPECT_EQ(launches[0].status, cudaErrorLaunchOutOfResources);
    EXPECT_EQ(readScalarField(*model, model->fx)[0], 3e-5f);
    EXPECT_EQ(readScalarField(*model, model->fy)[0], 3e-5f);

    // The second launch failing leaves fx decayed and fy as it was.
    cpu_runtime::clearRecordedLaunches();
    cpu_runtime::failCall("cudaLaunchKernel", 2, cudaErrorLaunchOutOfResources);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(model->decayForces());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CUDA Runtime API error 701: too many resources requested for launch.\n");
    EXPECT_EQ(cpu_runtime::recordedLaunches().size(), 2u);
    EXPECT_NEAR(readScalarField(*model, model->fx)[0], 2e-5f, 1e-11f);
    EXPECT_EQ(readScalarField(*model, model->fy)[0], 3e-5f);
}

TEST_F(StepFailures, DropsWithUnusableValuesAreSafe)
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

    // A radius that is NaN, negative or too large for any launch: the launch
    // is refused and reported.
    for (float radius : {nan, -1.0f, infinity, 1e12f}) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(model->addRainDrop(5.0f, 5.0f, 0.0002f, radius)) << radius;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 9: invalid configuration argument.\n")
            << radius;
    }
    EXPECT_EQ(readScalarField(*model, model->fx), std::vector<float>(cells, 1.0f));
}

TEST_F(StepFailures, ErrorLeftOverFromEarlierIsReportedByTheNextCheck)
{
    // A failure the runtime recorded before the launch surfaces at the
    // launch's check, like on the GPU.
    void* unused = nullptr;
    cpu_runtime::failCall("cudaMalloc", 1, cudaErrorMemoryAllocation);
    EXPECT_EQ(cudaMalloc(&unused, 16), cudaErrorMemoryAllocation);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(model->stream());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 2: out of memory.\n");
}

}  // namespace
