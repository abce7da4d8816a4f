// A one-line progress display: shown on standard error only when that is a
// terminal, redrawn a few times a second at most, and erased at the end, so
// that only long runs leave it visible for any time.
#pragma once

#include <chrono>

class ProgressLine {
public:
    ProgressLine(int total, bool enabled);
    ~ProgressLine();

    void update(int done);
    // Erases the line, if one was drawn.
    void finish();

private:
    using Clock = std::chrono::steady_clock;

    int total_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point lastDrawn_;
};
