// The application object: owns the water model and every GL object of the
// display, and runs each frame's steps (one at the program's own pace).
#pragma once

#include <glad/gl.h>

#include <cstdint>

#include "model/simulation_step.h"

struct WaterModel;

class ShallowWaterApp {
public:
    // The one application object, created and initialised on the first call;
    // later calls return it and ignore their arguments. Null when the
    // initialisation failed (everything created is released again).
    static ShallowWaterApp* instance(int argc, char** argv);

    virtual ~ShallowWaterApp();

    // Chooses and binds the CUDA device, creates the model, the shaders and
    // the display objects; false at the first step that fails.
    bool initialize(int argc, char** argv);

    // One frame: `steps` simulation steps, each with its rain, and the new
    // image into the texture. A failed operation reports itself and the
    // frame goes on; false when the failure left the device unable to
    // continue (the frame stops there, and no later frame can run).
    bool update(int steps = 1, const RainSettings& rain = RainSettings{});

    // The image of the water as it is, into the texture again (after the
    // depth range of the grey levels changed). False, as update, when the
    // device cannot continue.
    bool redisplay();

    // Starts again from still water with the rain from its first drop, and
    // shows the still water: the frames that follow are a new run's. False,
    // as update, when the device cannot continue.
    bool restart();

    // Deletes the GL objects (except the program) and the model.
    void release();

    // Display objects, each creating the one before it in the chain
    // quad -> texture -> pixel buffer.
    bool createQuadGeometry();
    bool createDisplayTexture();
    bool createPixelBuffer();

    WaterModel* model = nullptr;
    int32_t frameCounter = 0;  // steps completed since the model was created or restarted (not frames drawn)
    GLuint program = 0;
    GLuint vao = 0;
    GLuint quadVbo = 0;
    GLuint texture = 0;
    GLuint pixelBuffer = 0;

private:
    ShallowWaterApp() = default;
    ShallowWaterApp(const ShallowWaterApp&) = delete;
    ShallowWaterApp& operator=(const ShallowWaterApp&) = delete;
};

// Window-size callback: the image is stretched over the whole window.
struct GLFWwindow;
void onWindowSize(GLFWwindow* window, int width, int height);
