// The application object's life: singleton access, failed start-up,
// the first-frame flag, the window-size callback and the restart.
#include <glad/gl.h>

#include <random>

#include "app/pointer_drops.h"
#include "app/shallow_water_app.h"
#include "display_test_support.h"
#include "gl_test_environment.h"
#include "model/water_model.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"
#include "tests/support/emulator.h"
#include "tests/support/regression_hashes.h"
#include "tools/fnv1a.h"

namespace {

class Application : public CpuRuntimeTest {
protected:
    void TearDown() override
    {
        delete s_app;
        s_app = nullptr;
        CpuRuntimeTest::TearDown();
    }

    static ShallowWaterApp* create()
    {
        char name[] = "shallow-water-cpu";
        char* argv[] = {name, nullptr};
        s_app = ShallowWaterApp::instance(1, argv);
        return s_app;
    }

    static void forget() { s_app = nullptr; }

    static inline ShallowWaterApp* s_app = nullptr;
};

TEST_F(Application, InstanceIsCreatedOnceAndLaterArgumentsAreIgnored)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    ShallowWaterApp* app = create();
    ASSERT_NE(app, nullptr);
    char other[] = "-device=7";
    char* argv[] = {other, other, nullptr};
    EXPECT_EQ(ShallowWaterApp::instance(2, argv), app);
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before + 5) << "a second model was created";
    EXPECT_NE(app->program, 0u);
    EXPECT_NE(app->vao, 0u);
    EXPECT_NE(app->quadVbo, 0u);
    EXPECT_NE(app->texture, 0u);
    EXPECT_NE(app->pixelBuffer, 0u);
    EXPECT_EQ(app->frameCounter, 0);

    // Destroying it releases everything and lets a fresh one be built.
    const GLuint texture = app->texture;
    const GLuint pixelBuffer = app->pixelBuffer;
    delete app;
    forget();
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);
    EXPECT_EQ(glIsTexture(texture), GL_FALSE);
    EXPECT_EQ(glIsBuffer(pixelBuffer), GL_FALSE);
    ASSERT_NE(create(), nullptr);
}

TEST_F(Application, FailedStartLeavesNothingBehindAndALaterCallStartsAfresh)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    cpu_runtime::failCall("cudaMalloc", 4, cudaErrorMemoryAllocation);  // f
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(create(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "CUDA Runtime API error 2: out of memory.\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to allocate CUDA LB water model on GPU.\n");
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);

    ShallowWaterApp* app = create();
    ASSERT_NE(app, nullptr);
    EXPECT_NE(app->model, nullptr);
}

TEST_F(Application, FirstUpdateStartsFromStillWaterAndLaterOnesReadTheDistribution)
{
    ShallowWaterApp* app = create();
    ASSERT_NE(app, nullptr);
    WaterModel* model = app->model;
    const size_t cells = static_cast<size_t>(model->cellCount());
    // Whatever f holds must not matter to the first step.
    ASSERT_EQ(cudaMemset(model->f, 0xFF, cells * 9 * sizeof(float)), cudaSuccess);
    app->update();
    EXPECT_EQ(app->frameCounter, 1);
    auto h = readDevice(model->h, cells);
    for (size_t i = 0; i < cells; ++i) {
        if (bitsOf(h[i]) != 0x3D4CCCCDu) FAIL() << "cell " << i << " depth " << h[i];
    }
    // The second step sums what f holds now.
    const std::vector<float> raised = {0.03f, 0.005f, 0.001f, 0.005f, 0.001f, 0.005f, 0.001f, 0.005f, 0.001f};
    writeDevice(model->f, raised);
    app->update();
    h = readDevice(model->h, 2);
    float expected = 0.0f;
    for (float value : raised) expected += value;
    EXPECT_EQ(h[0], expected);
    EXPECT_NEAR(h[1], 0.05f, 1e-8f) << "still water elsewhere";
    EXPECT_EQ(app->frameCounter, 2);
}

// A restart is a new run, whatever came before it (steps, rain, drops of
// the mouse): the depth after every following step is a new run's, bit for
// bit, and so the known hashes of a new run after kRegressionFrames steps.
TEST_F(Application, FramesAfterARestartAreANewRunsFrames)
{
    // Some 120 full-grid frames: minutes under an emulator, for host code
    // that the native builds check.
    if (runsUnderEmulator()) GTEST_SKIP() << kTooSlowUnderEmulator;
    ShallowWaterApp* app = create();
    ASSERT_NE(app, nullptr);
    WaterModel* model = app->model;
    const size_t cells = static_cast<size_t>(model->cellCount());
    auto depthHashesOfARun = [&] {
        std::vector<uint64_t> hashes;
        for (int frame = 0; frame < kRegressionFrames; ++frame) {
            EXPECT_TRUE(app->update());
            hashes.push_back(fnv1a64(readDevice(model->h, cells)));
        }
        return hashes;
    };
    // Earlier tests may have drawn from the rain's stream: start it afresh.
    ASSERT_TRUE(app->restart());
    const std::vector<uint64_t> newRun = depthHashesOfARun();
    ASSERT_EQ(newRun.back(), kRegressionDepthHash) << std::hex << newRun.back();
    EXPECT_EQ(fnv1a64(readTexture(app->texture)), kRegressionPixelHash);

    std::mt19937 choice(20261208);
    for (int trial = 0; trial < 3; ++trial) {
        // Before the restart: some steps (past the first rain at frame 11 in
        // the later trials) and a few drops of the mouse anywhere.
        const int stepsBefore = std::uniform_int_distribution<int>(trial * 12, trial * 12 + 12)(choice);
        for (int step = 0; step < stepsBefore; ++step) {
            if (step % 4 == 1) {
                PointerDrops drops;
                drops.press({std::uniform_int_distribution<int>(0, kGridWidth - 1)(choice),
                             std::uniform_int_distribution<int>(0, kGridHeight - 1)(choice)});
                ASSERT_TRUE(drops.fallOn(*model));
            }
            ASSERT_TRUE(app->update());
        }
        ASSERT_TRUE(app->restart());
        EXPECT_EQ(app->frameCounter, 0);
        const std::vector<uint32_t> shown = readTexture(app->texture);
        EXPECT_EQ(std::count(shown.begin(), shown.end(), 0xFF7F7F7Fu), static_cast<long>(shown.size()))
            << "a restart shows still water at once";
        EXPECT_EQ(depthHashesOfARun(), newRun) << "after " << stepsBefore << " steps";
    }
}

}  // namespace
