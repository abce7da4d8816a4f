// The figures in the window's title, after "Hello World", while switched
// on: frames a second, milliseconds a step, million cell updates a second,
// the device and the step shown, renewed once a second (and at once for a
// step while paused). Off by default: then it times nothing and leaves the
// title alone.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct GLFWwindow;

class LiveReadout {
public:
    using Clock = std::chrono::steady_clock;

    LiveReadout(GLFWwindow* window, int cellsPerStep) : window_(window), cellsPerStep_(cellsPerStep) {}

    bool enabled() const { return enabled_; }
    // On: the title shows the step and the device until the first second is
    // measured. Off: the title is "Hello World" again.
    void toggle(int32_t step, bool paused);

    // The time a step starts, while enabled.
    Clock::time_point stepStarts() const { return enabled_ ? Clock::now() : Clock::time_point(); }
    // A step that began at `started` was shown; `step` counts the steps
    // since the start. Waits for the device, so that the time is the step's.
    void stepShown(Clock::time_point started, int32_t step, bool paused);
    // The window was paused, resumed or restarted.
    void stateChanged(int32_t step, bool paused);

private:
    void showFigures(int32_t step, double seconds);
    void showState(int32_t step, bool paused);

    GLFWwindow* window_;
    int cellsPerStep_;
    bool enabled_ = false;
    std::string device_;
    int steps_ = 0;
    double stepSeconds_ = 0.0;
    Clock::time_point since_;
};
