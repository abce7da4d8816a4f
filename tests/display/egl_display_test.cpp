// The display path as the window program runs it, in a GL context without
// any window system: the application's frames with rain, each handed to GL
// through the CUDA-OpenGL interop (register, map, kernel into the mapped
// buffer, unmap, texture refill), then drawn. The pixel buffer, the texture
// and the drawn picture must hold, bit for bit, the pixels that the
// simulation produces on every backend. The rain's generator is one stream
// for the process, so this program holds this one test.
#include <glad/gl.h>

#include <cuda_runtime.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/display_pipeline.h"
#include "model/grid_size.h"
#include "app/shallow_water_app.h"
#include "model/water_model.h"
#include "tests/support/regression_hashes.h"
#include "tools/fnv1a.h"

namespace {

constexpr size_t kCells = static_cast<size_t>(kGridWidth) * kGridHeight;

// Success, or where two images first differ and in how many pixels.
testing::AssertionResult sameImage(const std::vector<uint32_t>& seen, const std::vector<uint32_t>& expected)
{
    if (seen.size() != expected.size()) return testing::AssertionFailure() << "sizes differ";
    size_t differing = 0;
    size_t first = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i] != expected[i] && differing++ == 0) first = i;
    }
    if (differing == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << differing << " pixels differ, the first at column " << first % kGridWidth
                                       << ", row " << first / kGridWidth << ": 0x" << std::hex << seen[first]
                                       << " instead of 0x" << expected[first];
}

std::vector<uint32_t> readBuffer(GLuint buffer)
{
    std::vector<uint32_t> words(kCells);
    glBindBuffer(GL_COPY_READ_BUFFER, buffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, static_cast<GLsizeiptr>(kCells * 4), words.data());
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    return words;
}

std::vector<uint32_t> readTexture(GLuint texture)
{
    std::vector<uint32_t> texels(kCells);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

// The picture the frame loop draws, into a colour buffer of the grid's own
// size (one fragment per texel), top row first as a person sees it.
std::vector<uint32_t> drawAtGridSize(const ShallowWaterApp& app)
{
    GLuint framebuffer = 0;
    GLuint colour = 0;
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kGridWidth, kGridHeight);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    std::vector<uint32_t> picture;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
        glViewport(0, 0, kGridWidth, kGridHeight);
        drawDisplay(app.program, app.texture, app.vao, app.quadVbo);
        std::vector<uint32_t> bottomUp(kCells);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, kGridWidth, kGridHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
        picture.resize(kCells);
        for (int row = 0; row < kGridHeight; ++row) {
            const uint32_t* from = &bottomUp[static_cast<size_t>(kGridHeight - 1 - row) * kGridWidth];
            std::copy(from, from + kGridWidth, &picture[static_cast<size_t>(row) * kGridWidth]);
        }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour);
    return picture;
}

TEST(EglDisplay, FramesHandedOverThroughTheInteropAreDrawnBitForBit)
{
    char name[] = "shallow-water";
    char* argv[] = {name, nullptr};
    ShallowWaterApp* app = ShallowWaterApp::instance(1, argv);
    ASSERT_NE(app, nullptr);
    for (int frame = 0; frame < kRegressionFrames; ++frame) ASSERT_TRUE(app->update()) << "frame " << frame + 1;

    std::vector<float> depth(kCells);
    ASSERT_EQ(cudaMemcpy(depth.data(), app->model->h, kCells * sizeof(float), cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(fnv1a64(depth), kRegressionDepthHash) << std::hex << "h-fnv1a64: " << fnv1a64(depth);

    // What the kernel wrote into the mapped buffer, as GL reads it after
    // the unmap, and the texture refilled from it.
    const std::vector<uint32_t> pixels = readBuffer(app->pixelBuffer);
    EXPECT_EQ(fnv1a64(pixels), kRegressionPixelHash) << std::hex << "pixels-fnv1a64: " << fnv1a64(pixels);
    const std::vector<uint32_t> texels = readTexture(app->texture);
    EXPECT_TRUE(sameImage(texels, pixels)) << "texture against the pixel buffer";

    // Drawn at one fragment per texel, grid row 0 on top; the grey pixels
    // are unchanged by the shader's exchange of green and blue.
    const std::vector<uint32_t> picture = drawAtGridSize(*app);
    ASSERT_EQ(picture.size(), kCells) << "no framebuffer to draw into";
    EXPECT_TRUE(sameImage(picture, pixels)) << "drawn picture against the pixel buffer";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    delete app;
}

}  // namespace
