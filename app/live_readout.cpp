#include "live_readout.h"

#include <GLFW/glfw3.h>
#include <cuda_runtime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_label.h"

namespace {

constexpr const char* kTitle = "Hello World";

}  // namespace

const std::string& LiveReadout::device()
{
    if (device_.empty()) device_ = deviceLabel();
    return device_;
}

void LiveReadout::toggle(int32_t step, bool paused)
{
    enabled_ = !enabled_;
    if (!enabled_) {
        glfwSetWindowTitle(window_, kTitle);
        return;
    }
    showState(step, paused);
}

void LiveReadout::setFiguresWanted(bool wanted)
{
    if (wanted && !timing()) since_ = Clock::now();
    figuresWanted_ = wanted;
}

void LiveReadout::stateChanged(int32_t step, bool paused)
{
    if (timing()) showState(step, paused);
}

void LiveReadout::stepShown(Clock::time_point started, int stepsRun, int32_t step, bool paused)
{
    if (!timing()) return;
    // Launches may still be running on a GPU: the steps end when they do.
    // A failure here belongs to the frames, which report it themselves.
    if (cudaDeviceSynchronize() != cudaSuccess) cudaGetLastError();
    const Clock::time_point now = Clock::now();
    const double frameSeconds = std::chrono::duration<double>(now - started).count();
    recent_.push_back(static_cast<float>(1000.0 * frameSeconds / stepsRun));
    recentTimes_.push_back(now);
    while (now - recentTimes_.front() > std::chrono::duration<double>(kHistorySeconds)) {
        recent_.pop_front();
        recentTimes_.pop_front();
    }
    if (paused) {
        showState(step, paused);
        return;
    }
    ++frames_;
    steps_ += stepsRun;
    stepSeconds_ += frameSeconds;
    const double seconds = std::chrono::duration<double>(now - since_).count();
    if (seconds >= 1.0) showFigures(step, seconds);
}

void LiveReadout::showFigures(int32_t step, double seconds)
{
    figures_.measured = true;
    figures_.framesPerSecond = frames_ / seconds;
    figures_.millisecondsPerStep = 1000.0 * stepSeconds_ / steps_;
    figures_.millionCellUpdatesPerSecond = steps_ * static_cast<double>(cellsPerStep_) / seconds / 1e6;
    if (enabled_) {
        char title[256];
        std::snprintf(title, sizeof(title), "%s - %.1f frames/s, %.2f ms/step, %.1f M cell updates/s, %s, step %d",
                      kTitle, figures_.framesPerSecond, figures_.millisecondsPerStep,
                      figures_.millionCellUpdatesPerSecond, device().c_str(), static_cast<int>(step));
        glfwSetWindowTitle(window_, title);
    }
    frames_ = 0;
    steps_ = 0;
    stepSeconds_ = 0.0;
    since_ = Clock::now();
}

// Before the first second is measured, and while paused: no rates to show.
void LiveReadout::showState(int32_t step, bool paused)
{
    figures_.measured = false;
    if (enabled_) {
        char title[256];
        std::snprintf(title, sizeof(title), "%s - %s, %s, step %d", kTitle, paused ? "paused" : "measuring",
                      device().c_str(), static_cast<int>(step));
        glfwSetWindowTitle(window_, title);
    }
    frames_ = 0;
    steps_ = 0;
    stepSeconds_ = 0.0;
    since_ = Clock::now();
}

FrameRateReadout::FrameRateReadout() : since_(Clock::now())
{
    const char* setting = std::getenv("SHALLOW_WATER_FPS");
    enabled_ = setting != nullptr && setting[0] != '\0' && std::strcmp(setting, "0") != 0;
}

void FrameRateReadout::frameShown()
{
    if (!enabled_) return;
    ++frames_;
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - since_).count();
    if (seconds < 1.0) return;
    std::fprintf(stderr, "%.1f frames per second\n", frames_ / seconds);
    frames_ = 0;
    since_ = now;
}
