#include "live_readout.h"

#include <GLFW/glfw3.h>
#include <cuda_runtime.h>

#include <cstdio>

#include "device_label.h"

namespace {

constexpr const char* kTitle = "Hello World";

}  // namespace

void LiveReadout::toggle(int32_t step, bool paused)
{
    enabled_ = !enabled_;
    if (!enabled_) {
        glfwSetWindowTitle(window_, kTitle);
        return;
    }
    if (device_.empty()) device_ = deviceLabel();
    showState(step, paused);
}

void LiveReadout::stateChanged(int32_t step, bool paused)
{
    if (enabled_) showState(step, paused);
}

void LiveReadout::stepShown(Clock::time_point started, int32_t step, bool paused)
{
    if (!enabled_) return;
    // Launches may still be running on a GPU: the step ends when they do.
    // A failure here belongs to the frames, which report it themselves.
    if (cudaDeviceSynchronize() != cudaSuccess) cudaGetLastError();
    const Clock::time_point now = Clock::now();
    if (paused) {
        showState(step, paused);
        return;
    }
    ++steps_;
    stepSeconds_ += std::chrono::duration<double>(now - started).count();
    const double seconds = std::chrono::duration<double>(now - since_).count();
    if (seconds >= 1.0) showFigures(step, seconds);
}

void LiveReadout::showFigures(int32_t step, double seconds)
{
    char title[256];
    std::snprintf(title, sizeof(title),
                  "%s - %.1f frames/s, %.2f ms/step, %.1f M cell updates/s, %s, step %d", kTitle,
                  steps_ / seconds, 1000.0 * stepSeconds_ / steps_, steps_ * static_cast<double>(cellsPerStep_) / seconds / 1e6,
                  device_.c_str(), static_cast<int>(step));
    glfwSetWindowTitle(window_, title);
    steps_ = 0;
    stepSeconds_ = 0.0;
    since_ = Clock::now();
}

// Before the first second is measured, and while paused: no rates to show.
void LiveReadout::showState(int32_t step, bool paused)
{
    char title[256];
    std::snprintf(title, sizeof(title), "%s - %s, %s, step %d", kTitle, paused ? "paused" : "measuring",
                  device_.c_str(), static_cast<int>(step));
    glfwSetWindowTitle(window_, title);
    steps_ = 0;
    stepSeconds_ = 0.0;
    since_ = Clock::now();
}
