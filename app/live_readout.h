// The live figures of the run: frames a second, milliseconds a step, million
// cell updates a second, the device and the step shown, renewed once a
// second (and at once for a step while paused). I shows them in the
// window's title, after "Hello World"; the settings panel shows them too,
// with the last seconds of milliseconds a step. Off by default: then it
// times nothing and leaves the title alone. Also the frame rate on
// standard error that SHALLOW_WATER_FPS asks for (FrameRateReadout).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

struct GLFWwindow;

// The figures of the last whole second measured.
struct LiveFigures {
    bool measured = false;  // false before the first second, and while paused
    double framesPerSecond = 0.0;
    double millisecondsPerStep = 0.0;
    double millionCellUpdatesPerSecond = 0.0;
};

class LiveReadout {
public:
    using Clock = std::chrono::steady_clock;

    LiveReadout(GLFWwindow* window, int cellsPerStep) : window_(window), cellsPerStep_(cellsPerStep) {}

    bool enabled() const { return enabled_; }
    // On: the title shows the step and the device until the first second is
    // measured. Off: the title is "Hello World" again.
    void toggle(int32_t step, bool paused);

    // Whether a second reader (the panel) wants the figures, with or
    // without the title.
    void setFiguresWanted(bool wanted);

    // The time a frame's steps start, while timing.
    Clock::time_point stepStarts() const { return timing() ? Clock::now() : Clock::time_point(); }
    // A frame of `stepsRun` steps that began at `started` was shown; `step`
    // counts the steps since the start. Waits for the device, so that the
    // time is the steps'.
    void stepShown(Clock::time_point started, int stepsRun, int32_t step, bool paused);
    // The window was paused, resumed or restarted.
    void stateChanged(int32_t step, bool paused);

    const LiveFigures& figures() const { return figures_; }
    const std::string& device();
    // Milliseconds a step of the frames shown in the last kHistorySeconds,
    // oldest first.
    const std::deque<float>& recentMillisecondsPerStep() const { return recent_; }
    static constexpr double kHistorySeconds = 5.0;

private:
    bool timing() const { return enabled_ || figuresWanted_; }
    void showFigures(int32_t step, double seconds);
    void showState(int32_t step, bool paused);

    GLFWwindow* window_;
    int cellsPerStep_;
    bool enabled_ = false;
    bool figuresWanted_ = false;
    std::string device_;
    LiveFigures figures_;
    int frames_ = 0;
    int steps_ = 0;
    double stepSeconds_ = 0.0;
    Clock::time_point since_;
    std::deque<float> recent_;
    std::deque<Clock::time_point> recentTimes_;
};

// An optional frame-rate readout of the windowed program: with the
// environment variable SHALLOW_WATER_FPS set (to anything but "" or "0"),
// the frames shown in each second are printed on standard error, once a
// second. Off by default, so the program's own output is unchanged.
class FrameRateReadout {
public:
    // Reads SHALLOW_WATER_FPS once.
    FrameRateReadout();

    // Counts one shown frame; prints the rate when a second has passed.
    void frameShown();

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    int frames_ = 0;
    Clock::time_point since_;
};
