// The model's failure paths and launch arithmetic, seen through the CPU
// runtime's hooks: armed failures of the nth call, live allocation counts
// and launch records. A GPU offers no such hooks, so these run on the CPU
// backend only.
#include <vector>

#include "model/grid_size.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"

namespace {

using cpu_runtime::LaunchRecord;
using WaterModelCreation = CpuRuntimeTest;
using StepLaunches = ApplicationSizeModelTest;

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

TEST_F(WaterModelCreation, AllocationFailurePartWayFreesWhatWasAllocated)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    cpu_runtime::failCall("cudaMalloc", 3, cudaErrorMemoryAllocation);  // h, fx, then fy fails
    testing::internal::CaptureStdout();
    EXPECT_EQ(createWaterModel(2688, 1536), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 2: out of memory.\n");
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);
    // Reported once: a later creation does not trip over it.
    WaterModel* model = createWaterModel(144, 16);
    EXPECT_NE(model, nullptr);
    destroyWaterModel(model);
}

TEST_F(WaterModelCreation, FailedInitialStateLaunchIsReportedAndFreesEverything)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    cpu_runtime::recordLaunches(true);
    cpu_runtime::failCall("cudaLaunchKernel", 1, cudaErrorLaunchOutOfResources);
    testing::internal::CaptureStdout();
    EXPECT_EQ(createWaterModel(144, 16), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CUDA Runtime API error 701: too many resources requested for launch.\n");
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "the check consumed the last error";
}

TEST_F(WaterModelCreation, ReleaseOfAnUnregisteredModelFreesBuffersOnly)
{
    destroyWaterModel(nullptr);
    const size_t before = cpu_runtime::liveAllocationCount();
    WaterModel* model = createWaterModel(144, 16);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before + 5);
    // An unregistration would consume this failure and print its line.
    cpu_runtime::failCall("cudaGraphicsUnregisterResource", 1, cudaErrorUnknown);
    testing::internal::CaptureStdout();
    destroyWaterModel(model);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);
}

TEST_F(WaterModelCreation, FailedFreeIsReportedAndReleaseGoesOn)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    WaterModel* model = createWaterModel(144, 16);
    ASSERT_NE(model, nullptr);
    cpu_runtime::failCall("cudaFree", 1, cudaErrorInvalidValue);
    testing::internal::CaptureStdout();
    destroyWaterModel(model);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 1: invalid argument.\n");
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before + 1);  // only h stayed
    EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "a reported failure must not be reported again by the next check";
}

TEST_F(StepLaunches, DropBlocksFollowTheRadius)
{
    cpu_runtime::recordLaunches(true);
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
        {"collide", [](WaterModel& m) { return m.collide(kFromDistributions); }},
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
