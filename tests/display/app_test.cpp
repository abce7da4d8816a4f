// The application object's life: singleton access, failed start-up,
// the first-frame flag and the window-size callback.
#include <glad/gl.h>

#include "app/shallow_water_app.h"
#include "gl_test_environment.h"
#include "model/water_model.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"

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

}  // namespace
