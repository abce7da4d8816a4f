// The hand-over of each frame's pixels to GL: registration, and the map,
// pointer query, launch and unmap of updateDisplay with the lines each
// failure prints.
#include <glad/gl.h>

#include <cuda_gl_interop.h>

#include <string>
#include <vector>

#include "model/water_model.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"

namespace {

using cpu_runtime::failCall;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int kWidth = 144;
constexpr int kHeight = 16;
constexpr int kCells = kWidth * kHeight;
constexpr uint32_t kUntouched = 0x5A5A5A5Au;

std::string errorLine(cudaError_t status)
{
    return "CUDA Runtime API error " + std::to_string(static_cast<int>(status)) + ": " +
           cudaGetErrorString(status) + ".\n";
}

// A small model whose depth holds black, grey and white in turn, connected
// to a GL buffer of one word per cell.
class InteropOutput : public CpuRuntimeTest {
protected:
    void SetUp() override
    {
        CpuRuntimeTest::SetUp();
        model_ = createWaterModel(kWidth, kHeight);
        ASSERT_NE(model_, nullptr);
        std::vector<float> depths(kCells);
        for (int i = 0; i < kCells; ++i) depths[i] = i % 3 == 0 ? 0.04f : (i % 3 == 1 ? 0.05f : 0.06f);
        writeDevice(model_->h, depths);

        const std::vector<uint32_t> untouched(kCells, kUntouched);
        glGenBuffers(1, &buffer_);
        glBindBuffer(GL_ARRAY_BUFFER, buffer_);
        glBufferData(GL_ARRAY_BUFFER, kCells * 4, untouched.data(), GL_DYNAMIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        ASSERT_TRUE(model_->registerPixelBuffer(buffer_));
        cpu_runtime::recordLaunches(true);
    }

    void TearDown() override
    {
        destroyWaterModel(model_);
        glDeleteBuffers(1, &buffer_);
        CpuRuntimeTest::TearDown();
    }

    // updateDisplay's result, with what it printed on standard output.
    bool updateDisplay(std::string* printed)
    {
        CaptureStdout();
        const bool result = model_->updateDisplay();
        *printed = GetCapturedStdout();
        return result;
    }

    bool bufferIsMapped()
    {
        GLint mapped = GL_TRUE;
        glBindBuffer(GL_ARRAY_BUFFER, buffer_);
        glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_MAPPED, &mapped);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return mapped == GL_TRUE;
    }

    std::vector<uint32_t> bufferWords()
    {
        std::vector<uint32_t> words(kCells);
        glBindBuffer(GL_ARRAY_BUFFER, buffer_);
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, kCells * 4, words.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return words;
    }

    void expectPixelsOfTheDepth()
    {
        const std::vector<uint32_t> words = bufferWords();
        const uint32_t expected[3] = {0xFF000000u, 0xFF7F7F7Fu, 0xFFFFFFFFu};
        for (int i = 0; i < kCells; ++i)
            if (words[i] != expected[i % 3]) FAIL() << "cell " << i << " holds " << std::hex << words[i];
    }

    void expectNoPixelsWritten()
    {
        EXPECT_TRUE(cpu_runtime::recordedLaunches().empty()) << "the kernel was launched";
        const std::vector<uint32_t> words = bufferWords();
        for (int i = 0; i < kCells; ++i)
            if (words[i] != kUntouched) FAIL() << "cell " << i << " was written";
    }

    // A failure is reported by the frame that met it, and only there.
    void expectACleanNextFrame()
    {
        std::string printed;
        EXPECT_TRUE(updateDisplay(&printed));
        EXPECT_EQ(printed, "") << "the next frame reported an earlier failure";
        EXPECT_FALSE(bufferIsMapped());
        expectPixelsOfTheDepth();
    }

    WaterModel* model_ = nullptr;
    GLuint buffer_ = 0;
};

TEST_F(InteropOutput, AFrameWritesOnePixelWordPerCellAndHandsTheBufferBack)
{
    std::string printed;
    EXPECT_TRUE(updateDisplay(&printed));
    EXPECT_EQ(printed, "");
    const auto launches = cpu_runtime::recordedLaunches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].kernel, "kHeightMapToTexture");
    EXPECT_EQ(launches[0].grid.x, static_cast<unsigned>(kCells / 576));
    EXPECT_EQ(launches[0].block.x, 576u);
    EXPECT_EQ(launches[0].grid.y * launches[0].grid.z * launches[0].block.y * launches[0].block.z, 1u);
    EXPECT_FALSE(bufferIsMapped()) << "the buffer was left mapped for CUDA";
    expectPixelsOfTheDepth();

    // Every frame maps and unmaps again.
    EXPECT_TRUE(updateDisplay(&printed));
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(bufferIsMapped());
}

TEST_F(InteropOutput, FailedMapSkipsTheKernelAndStillTriesTheUnmap)
{
    failCall("cudaGraphicsMapResources", 1, cudaErrorMapBufferObjectFailed);
    std::string printed;
    EXPECT_FALSE(updateDisplay(&printed));
    // The map's status three times; the unmap of a buffer that was never
    // mapped fails too and reports its own status in between.
    const std::string map = errorLine(cudaErrorMapBufferObjectFailed);
    EXPECT_EQ(printed, map + map + errorLine(cudaErrorNotMapped) + map);
    expectNoPixelsWritten();
    expectACleanNextFrame();
}

TEST_F(InteropOutput, FailedMapOfABufferLeftMappedPrintsThreeLinesAndUnmapsIt)
{
    ASSERT_EQ(cudaGraphicsMapResources(1, &model_->graphicsResource, nullptr), cudaSuccess);
    std::string printed;
    EXPECT_FALSE(updateDisplay(&printed));
    const std::string map = errorLine(cudaErrorAlreadyMapped);
    EXPECT_EQ(printed, map + map + map);
    EXPECT_FALSE(bufferIsMapped()) << "the unmap was not tried";
    expectNoPixelsWritten();
    expectACleanNextFrame();
}

TEST_F(InteropOutput, FailedPointerQueryOrLaunchPrintsTwiceAndUnmaps)
{
    std::string printed;
    failCall("cudaGraphicsResourceGetMappedPointer", 1, cudaErrorUnknown);
    EXPECT_FALSE(updateDisplay(&printed));
    EXPECT_EQ(printed, errorLine(cudaErrorUnknown) + errorLine(cudaErrorUnknown));
    EXPECT_FALSE(bufferIsMapped());
    expectNoPixelsWritten();
    expectACleanNextFrame();
    cpu_runtime::clearRecordedLaunches();

    failCall("cudaLaunchKernel", 1, cudaErrorLaunchOutOfResources);
    EXPECT_FALSE(updateDisplay(&printed));
    EXPECT_EQ(printed, errorLine(cudaErrorLaunchOutOfResources) + errorLine(cudaErrorLaunchOutOfResources));
    EXPECT_FALSE(bufferIsMapped());
    const auto launches = cpu_runtime::recordedLaunches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].status, cudaErrorLaunchOutOfResources);
    expectACleanNextFrame();
}

TEST_F(InteropOutput, FailedUnmapAlonePrintsOnceAndTheFrameCounts)
{
    failCall("cudaGraphicsUnmapResources", 1, cudaErrorUnmapBufferObjectFailed);
    std::string printed;
    EXPECT_TRUE(updateDisplay(&printed));
    EXPECT_EQ(printed, errorLine(cudaErrorUnmapBufferObjectFailed));
    EXPECT_EQ(cpu_runtime::recordedLaunches().size(), 1u);
    // The injected failure left the buffer mapped; hand it back here.
    ASSERT_EQ(cudaGraphicsUnmapResources(1, &model_->graphicsResource, nullptr), cudaSuccess);
    expectPixelsOfTheDepth();
    expectACleanNextFrame();
}

TEST_F(InteropOutput, RejectedRegistrationPrintsOnceAndKeepsTheName)
{
    WaterModel* model = createWaterModel(kWidth, kHeight);
    ASSERT_NE(model, nullptr);
    const unsigned int notABuffer = buffer_ + 1000;
    ASSERT_EQ(glIsBuffer(notABuffer), GL_FALSE);
    CaptureStdout();
    EXPECT_FALSE(model->registerPixelBuffer(notABuffer));
    EXPECT_EQ(GetCapturedStdout(), errorLine(cudaErrorInvalidValue));
    EXPECT_EQ(model->pixelBuffer, notABuffer);
    EXPECT_EQ(model->graphicsResource, nullptr);

    // Release undoes only registrations that were made: nothing to report.
    CaptureStdout();
    destroyWaterModel(model);
    EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
