// The page's simulation: the functions that the browser's worker calls
// (web/simulation_worker.js), one model driven as the window drives its own:
// waiting pointer drops first, then the frame's steps with their rain, then
// the depth turned into pixel words, which the worker hands to WebGL straight
// from the module's memory. The headless runner is the same module's main,
// for the page's checksum runs.
//
// Every function reports failures on standard error (the worker shows them
// on the page) and returns 0 or a null pointer.
#include <cuda_runtime.h>

#include <numeric>
#include <string>
#include <vector>

#include "model/grid_size.h"
#include "app/pointer_drops.h"
#include "model/simulation_step.h"
#include "kernels/device_constants.h"
#include "model/device_settings.h"
#include "model/water_model.h"
#include "tools/headless_options.h"

namespace {

struct PageSession {
    WaterModel* model = nullptr;
    unsigned int* pixels = nullptr;
    int32_t frameCounter = 0;
    int stepsPerFrame = 1;  // the options' first setting; the page's panel changes it
    RainSettings rain;
    PointerDrops drops;
};

PageSession session;

// The headless runner's options from the worker's lines, one argument a line.
std::vector<std::string> argumentLines(const char* text)
{
    std::vector<std::string> arguments{"shallow-water-web"};
    std::string line;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n') {
            arguments.push_back(line);
            line.clear();
        } else {
            line.push_back(*c);
        }
    }
    if (!line.empty()) arguments.push_back(line);
    return arguments;
}

unsigned int* framePixels()
{
    if (session.model->writeDepthPixels(session.pixels) != cudaSuccess) return nullptr;
    return checkCudaStatus(cudaDeviceSynchronize()) ? session.pixels : nullptr;
}

}  // namespace

extern "C" {

// Parses the options as the headless runner does (its messages on standard
// error), creates the model and sets the device constants they name.
// 0: running; 2: the options are wrong; 1: the model could not be made.
int sw_start(const char* optionLines)
{
    const std::vector<std::string> arguments = argumentLines(optionLines);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    HeadlessOptions options;
    if (parseHeadlessOptions(static_cast<int>(argv.size()), argv.data(), &options) != CommandLine::Run) return 2;
    session.model = createWaterModel(kGridWidth, kGridHeight);
    if (session.model == nullptr) {
        std::fprintf(stderr, "Failed to allocate CUDA LB water model on GPU.\n");
        return 1;
    }
    const size_t bytes = static_cast<size_t>(session.model->cellCount()) * sizeof(unsigned int);
    if (!checkCudaStatus(cudaMalloc(reinterpret_cast<void**>(&session.pixels), bytes))) return 1;
    if (options.relaxation && !setRelaxationFactor(*options.relaxation)) return 1;
    if (options.depthRange && !setDepthRange(options.depthRange->black, options.depthRange->white)) return 1;
    session.rain = options.rain;
    session.stepsPerFrame = options.stepsPerFrame;
    return 0;
}

int sw_steps_per_frame() { return session.stepsPerFrame; }
int sw_rain_falls() { return session.rain.falls ? 1 : 0; }
float sw_rain_chance() { return session.rain.chance; }
float sw_drop_radius() { return session.rain.dropRadius; }
float sw_drop_strength() { return session.rain.dropStrength; }

// One displayed frame: the waiting drops, `steps` steps, the pixels.
unsigned int* sw_frame(int steps)
{
    if (!session.drops.empty() && !session.drops.fallOn(*session.model)) return nullptr;
    for (int step = 0; step < steps; ++step)
        if (!advanceOneStep(*session.model, session.frameCounter, session.rain)) return nullptr;
    return framePixels();
}

// The pixels of the water as it is (a new depth range while paused).
unsigned int* sw_redisplay()
{
    return framePixels();
}

// Still water again, the rain from its first drop.
unsigned int* sw_restart()
{
    session.drops.clear();
    if (!session.model->restart() && deviceCannotContinue()) return nullptr;
    restartRain();
    session.frameCounter = 0;
    return framePixels();
}

// The pointer over the canvas: 0 pressed, 1 moved, 2 released, at (x, y)
// of a canvas width x height (CSS pixels from its top left).
void sw_pointer(int phase, double x, double y, int width, int height)
{
    const GridCell cell = gridCellUnderCursor(x, y, width, height);
    if (phase == 0) session.drops.press(cell);
    if (phase == 1) session.drops.moveTo(cell);
    if (phase == 2) session.drops.release();
}

// The panel's settings, in the window panel's ranges (the page clamps).
void sw_set_rain(int falls, float chance, float radius, float strength)
{
    session.rain = RainSettings{falls != 0, chance, radius, strength};
}

int sw_set_relaxation(float omega) { return setRelaxationFactor(omega) ? 1 : 0; }
int sw_set_depth_range(float black, float white) { return setDepthRange(black, white) ? 1 : 0; }

int sw_step_count() { return session.frameCounter; }
int sw_cell_count() { return session.model == nullptr ? 0 : session.model->cellCount(); }

// The water's volume (the sum of every cell's depth) and the still water's.
double sw_volume()
{
    std::vector<float> depth(static_cast<size_t>(session.model->cellCount()));
    if (!checkCudaStatus(cudaMemcpy(depth.data(), session.model->h, depth.size() * sizeof(float),
                                    cudaMemcpyDeviceToHost)))
        return 0.0;
    return std::accumulate(depth.begin(), depth.end(), 0.0);
}

double sw_still_volume()
{
    return static_cast<double>(kInitialDepth) * static_cast<double>(sw_cell_count());
}

int sw_grid_width() { return kGridWidth; }
int sw_grid_height() { return kGridHeight; }

}  // extern "C"
