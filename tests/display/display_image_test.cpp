// The image in the window: still water, orientation, the colour swizzle and
// a resized window, read back from the hidden test window after drawing.
#include <cstdio>
#include <string>
#include <vector>

#include "app/display_pipeline.h"
#include "display_test_support.h"
#include "model/water_model.h"

namespace {

constexpr int kBands = 16;  // bands of 168 columns and of 96 rows
constexpr uint32_t kStillWater = pixelWord(0x7F, 0x7F, 0x7F, 0xFF);

// Grey level of band (column band, row band): different for every band and
// changed by any mirror or transpose.
uint32_t bandLevel(int columnBand, int rowBand)
{
    return static_cast<uint32_t>(rowBand * kBands + columnBand);
}

// A depth that the ramp shows as the given grey level, half a step inside it.
float depthForLevel(uint32_t level)
{
    return static_cast<float>(0.0495 + (level + 0.5) * (0.0505 - 0.0495) / 255.0);
}

class DisplayImage : public DisplayAppTest {
protected:
    void writeBandPattern()
    {
        std::vector<float> depths(static_cast<size_t>(kGridWidth) * kGridHeight);
        for (int y = 0; y < kGridHeight; ++y)
            for (int x = 0; x < kGridWidth; ++x)
                depths[static_cast<size_t>(y) * kGridWidth + x] =
                    depthForLevel(bandLevel(x * kBands / kGridWidth, y * kBands / kGridHeight));
        writeDevice(app_->model->h, depths);
        ASSERT_TRUE(app_->model->updateDisplay());
        refillDisplayTexture(app_->texture, app_->pixelBuffer);
    }

    void draw() { drawDisplay(app_->program, app_->texture, app_->vao, app_->quadVbo); }

    // Each band fills its share of the window (sizes are multiples of 16).
    void expectBandsInWindow(int width, int height)
    {
        const std::vector<uint32_t> window = readWindowPixels(width, height);
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const uint32_t level = bandLevel(column * kBands / width, row * kBands / height);
                const uint32_t seen = window[static_cast<size_t>(row) * width + column];
                if (seen != pixelWord(level, level, level, 0xFF))
                    FAIL() << "window pixel (" << column << ", " << row << ") shows " << std::hex << seen
                           << " instead of grey " << std::dec << level;
            }
        }
    }

    static void expectEverywhere(const std::vector<uint32_t>& pixels, uint32_t expected, const char* where)
    {
        for (size_t i = 0; i < pixels.size(); ++i)
            if (pixels[i] != expected)
                FAIL() << where << " pixel " << i << " is " << std::hex << pixels[i] << ", not " << expected;
    }
};

TEST_F(DisplayImage, StillWaterIsGrey127Everywhere)
{
    ASSERT_NE(createApp(), nullptr);
    cpu_runtime::recordLaunches(true);
    app_->update();
    std::vector<cpu_runtime::LaunchRecord> imageLaunches;
    for (const auto& launch : cpu_runtime::recordedLaunches())
        if (launch.kernel == "kHeightMapToTexture") imageLaunches.push_back(launch);
    ASSERT_EQ(imageLaunches.size(), 1u);
    EXPECT_EQ(imageLaunches[0].grid.x, 7168u);
    EXPECT_EQ(imageLaunches[0].block.x, 576u);

    expectEverywhere(readTexture(app_->texture), kStillWater, "texture");
    draw();
    expectEverywhere(readWindowPixels(640, 480), kStillWater, "window");
}

TEST_F(DisplayImage, GridRowZeroIsAtTheTopAndColumnZeroAtTheLeft)
{
    ASSERT_NE(createApp(), nullptr);
    writeBandPattern();
    draw();
    expectBandsInWindow(640, 480);
}

TEST_F(DisplayImage, PixelWordBytesShowAsRedThenThirdThenSecond)
{
    ASSERT_NE(createApp(), nullptr);
    const std::vector<uint32_t> words(static_cast<size_t>(kGridWidth) * kGridHeight, pixelWord(10, 20, 30, 255));
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, app_->pixelBuffer);
    glBufferSubData(GL_PIXEL_UNPACK_BUFFER, 0, static_cast<GLsizeiptr>(words.size() * 4), words.data());
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    refillDisplayTexture(app_->texture, app_->pixelBuffer);

    // The texture keeps the bytes as they are; the shader exchanges green
    // and blue on the way to the window.
    expectEverywhere(readTexture(app_->texture), pixelWord(10, 20, 30, 255), "texture");
    draw();
    expectEverywhere(readWindowPixels(640, 480), pixelWord(10, 30, 20, 255), "window");
}

TEST_F(DisplayImage, AResizedWindowShowsTheWholeImageStretchedAndKeepsDrawing)
{
    ASSERT_NE(createApp(), nullptr);
    writeBandPattern();

    // A real resize of the window, reported through the callback the
    // program registers.
    constexpr int kWidth = 800;
    constexpr int kHeight = 240;
    glfwSetWindowSizeCallback(testWindow(), onWindowSize);
    glfwSetWindowSize(testWindow(), kWidth, kHeight);
    GLint viewport[4] = {};
    for (int wait = 0; wait < 100 && (viewport[2] != kWidth || viewport[3] != kHeight); ++wait) {
        glfwWaitEventsTimeout(0.05);
        glGetIntegerv(GL_VIEWPORT, viewport);
    }
    ASSERT_EQ(viewport[2], kWidth);
    ASSERT_EQ(viewport[3], kHeight);
    int framebufferWidth = 0;
    int framebufferHeight = 0;
    glfwGetFramebufferSize(testWindow(), &framebufferWidth, &framebufferHeight);
    ASSERT_EQ(framebufferWidth, kWidth);
    ASSERT_EQ(framebufferHeight, kHeight);
    // The frame loop swaps after every frame; this driver takes the new
    // window size for its drawing buffer at the swap.
    glfwSwapBuffers(testWindow());

    draw();
    expectBandsInWindow(kWidth, kHeight);

    // The next frame: a simulation step from still water, drawn as usual.
    app_->update();
    draw();
    expectEverywhere(readWindowPixels(kWidth, kHeight), kStillWater, "window");
}

}  // namespace
