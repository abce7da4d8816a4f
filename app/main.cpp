// Entry point: the window, the GL context and the frame loop.
#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include <cstdio>
#include <cstring>

#include "display_pipeline.h"
#include "live_readout.h"
#include "model/water_model.h"
#include "shallow_water_app.h"
#include "program_output/standard_output.h"
#include "program_output/version_line.h"
#include "view_snapshot.h"
#include "window_controls.h"
#include "window_keys.h"

// Ask the driver of a hybrid-graphics machine to run this process on the
// discrete NVIDIA GPU: the first for CUDA, the second for OpenGL. Both are
// needed, since the interop shares a buffer between the two and works only
// when the GL context is on the GPU that runs CUDA. Exported from the
// Windows executable.
extern "C" {
#if defined(_WIN32)
__declspec(dllexport)
#endif
int NvOptimusEnablementCuda = 1;
#if defined(_WIN32)
__declspec(dllexport)
#endif
int NvOptimusEnablement = 1;
}

namespace {

// GLFW's own description of what failed (no display, a display that cannot
// be opened, no GLX, no suitable context), so that a window that cannot
// start does not end the program silently.
void reportGlfwError(int code, const char* description)
{
    std::fprintf(stderr, "GLFW error %d: %s\n", code, description != nullptr ? description : "(no description)");
}

// --help, -help or -h anywhere on the command line. The device options
// (-device=N, -quiet) are read by the device choice as before.
bool wantsUsage(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-help") == 0 ||
            std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

// --version anywhere on the command line (after --help, which wins).
bool wantsVersion(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) return true;
    }
    return false;
}

void printUsage(const char* program)
{
    std::printf("Usage: %s [-device=N] [-quiet]\n"
                "Shows a shallow-water simulation with rain in a 640 x 480 window, one step per frame;\n"
                "close the window (or press Esc) to end it.\n"
                "  -device=N   use CUDA device N and print \"Using device N: NAME\" on standard error\n"
                "              (without it the fastest device is used and nothing is printed)\n"
                "  -quiet      with -device=N, leave out that line\n"
                "  --help      show this text\n"
                "  --version   show the version (and the commit built from)\n"
                "Exit status: 0 after the window is closed, 1 when the device, the model or the display\n"
                "cannot be set up or the device fails so that it cannot continue, 255 when no window or\n"
                "OpenGL context can be opened.\n"
                "In the window:\n%s",
                program, kWindowControlsHelp);
}

int endAfterDeviceFailure()
{
    reportDeviceCannotContinue();
    glfwTerminate();
    return 1;
}

}  // namespace

static int runWindowProgram(int argc, char** argv)
{
    if (wantsUsage(argc, argv)) {
        printUsage(argc > 0 ? argv[0] : "shallow-water");
        return 0;
    }
    if (wantsVersion(argc, argv)) {
        printVersionLine(argc > 0 ? argv[0] : "shallow-water");
        return 0;
    }

    glfwSetErrorCallback(reportGlfwError);
    if (glfwInit() != GLFW_TRUE) {
        std::fprintf(stderr, "Failed to initialize GLFW: no window can be opened.\n");
        return -1;
    }

    GLFWwindow* window = glfwCreateWindow(640, 480, "Hello World", nullptr, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "Failed to create the window and its OpenGL context.\n");
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

    // A failed start-up has printed its reason; it ends with status 1 so
    // that scripts can tell it from a normal end.
    ShallowWaterApp* app = ShallowWaterApp::instance(argc, argv);
    if (app == nullptr) {
        glfwTerminate();
        return 1;
    }

    FrameRateReadout frameRate;
    WindowControls controls(window, app->frameCounter, app->model->cellCount());
    while (!glfwWindowShouldClose(window)) {
        // Without input every pass steps and draws, as it always has; keys
        // and the mouse only add to that.
        if (controls.run.takeRestart()) {
            controls.drops.clear();
            if (!app->restart()) return endAfterDeviceFailure();
            controls.run.requestRedraw();
            controls.readout.stateChanged(app->frameCounter, controls.run.paused());
        }
        const bool step = controls.run.takeStep();
        if (step) {
            // A device that cannot continue would fail every later call,
            // frame after frame, over a frozen image: the run ends, as a
            // failure.
            const LiveReadout::Clock::time_point started = controls.readout.stepStarts();
            if (!controls.drops.empty() && !controls.drops.fallOn(*app->model)) return endAfterDeviceFailure();
            const WindowSettings& settings = controls.panel.settings();
            if (!app->update(settings.stepsPerFrame, settings.rain)) return endAfterDeviceFailure();
            controls.readout.stepShown(started, settings.stepsPerFrame, app->frameCounter, controls.run.paused());
        }
        if (controls.run.takeRedraw() || step) {
            // The saved view leaves the panel out: its frame draws the whole
            // water, else the panel's corner is left to the panel.
            const bool save = controls.takeSaveView();
            drawDisplay(controls.view.program(app->program), app->texture, app->vao, app->quadVbo,
                        save ? 0 : controls.panel.coveredWidth(), save ? 0 : controls.panel.coveredHeight());
            if (save) saveViewSnapshot(app->frameCounter);
            if (!controls.drawPanel(*app)) return endAfterDeviceFailure();
            glfwSwapBuffers(window);
        }
        if (step) frameRate.frameShown();
        controls.processEvents();
    }
    controls.panel.close();
    glfwTerminate();
    return 0;
}

int main(int argc, char** argv)
{
    guardStandardOutput();
    const int status = runWindowProgram(argc, argv);
    return withStandardOutputChecked(status, argc > 0 ? argv[0] : "shallow-water");
}
