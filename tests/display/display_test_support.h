// Helpers of the display tests: an application object created for one test
// and released after it, and read-back of the window and the texture.
#pragma once

#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "model/grid_size.h"
#include "app/shallow_water_app.h"
#include "gl_test_environment.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"

// Pixels of the window's drawing buffer as packed bytes (R, G, B, A in
// memory), top row first, as a person sees them.
inline std::vector<uint32_t> readWindowPixels(int width, int height)
{
    std::vector<uint32_t> bottomUp(static_cast<size_t>(width) * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<uint32_t> topDown(bottomUp.size());
    for (int row = 0; row < height; ++row) {
        const uint32_t* from = &bottomUp[static_cast<size_t>(height - 1 - row) * width];
        std::copy(from, from + width, &topDown[static_cast<size_t>(row) * width]);
    }
    return topDown;
}

// Level 0 of a grid-sized RGBA8 texture, row 0 first.
inline std::vector<uint32_t> readTexture(GLuint texture)
{
    std::vector<uint32_t> texels(static_cast<size_t>(kGridWidth) * kGridHeight);
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

// Packs bytes as they lie in memory into one pixel word (little-endian).
constexpr uint32_t pixelWord(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3)
{
    return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}

// One application object per test, released after it; the window and the
// viewport are put back to 640 x 480.
class DisplayAppTest : public CpuRuntimeTest {
protected:
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
        glfwSetWindowSizeCallback(testWindow(), nullptr);
        int width = 0;
        int height = 0;
        glfwGetWindowSize(testWindow(), &width, &height);
        if (width != 640 || height != 480) {
            glfwSetWindowSize(testWindow(), 640, 480);
            for (int wait = 0; wait < 100 && (width != 640 || height != 480); ++wait) {
                glfwWaitEventsTimeout(0.05);
                glfwGetWindowSize(testWindow(), &width, &height);
            }
            glfwSwapBuffers(testWindow());  // the drawing buffer takes the size here
        }
        glViewport(0, 0, 640, 480);
        while (glGetError() != GL_NO_ERROR) {
        }
        CpuRuntimeTest::TearDown();
    }

    ShallowWaterApp* createApp()
    {
        char name[] = "shallow-water-cpu";
        char* argv[] = {name, nullptr};
        app_ = ShallowWaterApp::instance(1, argv);
        return app_;
    }

    ShallowWaterApp* app_ = nullptr;
};
