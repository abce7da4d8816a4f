// An optional frame-rate readout of the windowed program: with the
// environment variable SHALLOW_WATER_FPS set (to anything but "" or "0"),
// the frames shown in each second are printed on standard error, once a
// second. Off by default, so the program's own output is unchanged.
#pragma once

#include <chrono>

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
