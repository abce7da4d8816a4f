// Entry point: the window, the GL context and the frame loop.
#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include <cstdio>

#include "display_pipeline.h"
#include "frame_rate.h"
#include "shallow_water_app.h"

// Asks the driver of a hybrid-graphics machine to run this process on the
// discrete NVIDIA GPU. Exported from the Windows executable.
extern "C" {
#if defined(_WIN32)
__declspec(dllexport)
#endif
int NvOptimusEnablementCuda = 1;
}

int main(int argc, char** argv)
{
    if (glfwInit() != GLFW_TRUE) return -1;

    GLFWwindow* window = glfwCreateWindow(640, 480, "Hello World", nullptr, nullptr);
    if (window == nullptr) {
        glfwTerminate();
        return -1;
    }
    glfwSetWindowSizeCallback(window, onWindowSize);
    glfwMakeContextCurrent(window);
    if (gladLoadGL(glfwGetProcAddress) == 0) {
        std::fprintf(stderr, "Failed to initialize OpenGL context\n");
        glfwTerminate();
        return -1;
    }
    glViewport(0, 0, 640, 480);

    ShallowWaterApp* app = ShallowWaterApp::instance(argc, argv);
    if (app == nullptr) {
        glfwTerminate();
        return 0;
    }

    FrameRateReadout frameRate;
    while (!glfwWindowShouldClose(window)) {
        app->update();
        drawDisplay(app->program, app->texture, app->vao, app->quadVbo);
        glfwSwapBuffers(window);
        frameRate.frameShown();
        glfwPollEvents();
    }
    glfwTerminate();
    return 0;
}
