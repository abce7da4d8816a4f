// The application object's life: start-up, the per-frame update, release.
#include "shallow_water_app.h"

#include <cuda_gl_interop.h>

#include <cstdio>
#include <cstdlib>

#include "display_pipeline.h"
#include "gpu/helper_cuda.h"
#include "gpu/helper_cuda_gl.h"
#include "model/grid_size.h"
#include "model/water_model.h"
#include "model/simulation_step.h"

namespace {

ShallowWaterApp* s_instance = nullptr;

}  // namespace

ShallowWaterApp* ShallowWaterApp::instance(int argc, char** argv)
{
    if (s_instance != nullptr) return s_instance;
    s_instance = new ShallowWaterApp();
    if (s_instance->initialize(argc, argv)) return s_instance;
    delete s_instance;  // releases what was created and clears the pointer
    s_instance = nullptr;
    return nullptr;
}

ShallowWaterApp::~ShallowWaterApp()
{
    release();
    s_instance = nullptr;
}

bool ShallowWaterApp::initialize(int argc, char** argv)
{
    // Device choice: the one the command line names, else the fastest. Both
    // paths end the process themselves on fatal CUDA failures.
    if (hasCommandLineFlag(argc, argv, "device")) {
        if (gpuGLDeviceInit(argc, argv) < 0) {
            std::printf("no CUDA capable devices found, exiting...\n");
            cudaDeviceReset();
            std::exit(1);  // not 0: a failed start must be told from a normal end
        }
    } else {
        // A failed binding shows up in the model's first CUDA call.
        cudaGLSetGLDevice(gpuGetMaxGflopsDeviceId());
    }

    model = createWaterModel(kGridWidth, kGridHeight);
    if (model == nullptr) {
        std::fprintf(stderr, "Failed to allocate CUDA LB water model on GPU.\n");
        return false;
    }
    frameCounter = 0;

    program = createShaderProgram(kVertexShaderSource, kFragmentShaderSource);
    if (program == 0) {
        std::fprintf(stderr, "Failed to compile required OpenGL GLSL shaders.\n");
        return false;
    }
    return createQuadGeometry();
}

bool ShallowWaterApp::update(int steps, const RainSettings& rain)
{
    for (int step = 0; step < steps; ++step) {
        if (!advanceOneStep(*model, frameCounter, rain)) return false;
    }
    return redisplay();
}

bool ShallowWaterApp::redisplay()
{
    if (!model->updateDisplay() && deviceCannotContinue()) return false;
    refillDisplayTexture(texture, pixelBuffer);
    return true;
}

bool ShallowWaterApp::restart()
{
    if (!model->restart() && deviceCannotContinue()) return false;
    restartRain();
    frameCounter = 0;
    return redisplay();
}

void ShallowWaterApp::release()
{
    if (quadVbo != 0) {
        glDeleteBuffers(1, &quadVbo);
        quadVbo = 0;
    }
    if (vao != 0) {
        glDeleteVertexArrays(1, &vao);
        vao = 0;
    }
    if (texture != 0) {
        glDeleteTextures(1, &texture);
        texture = 0;
    }
    if (pixelBuffer != 0) {
        glDeleteBuffers(1, &pixelBuffer);
        pixelBuffer = 0;
    }
    if (model != nullptr) {
        destroyWaterModel(model);
        model = nullptr;
    }
}

void onWindowSize(GLFWwindow*, int width, int height)
{
    glViewport(0, 0, width, height);
}
