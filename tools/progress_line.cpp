#include "progress_line.h"

#include <cstdio>

namespace {

constexpr std::chrono::milliseconds kRedrawInterval(250);

}  // namespace

ProgressLine::ProgressLine(int total, bool enabled) : total_(total), enabled_(enabled) {}

ProgressLine::~ProgressLine()
{
    finish();
}

void ProgressLine::update(int done)
{
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (shown_ && now - lastDrawn_ < kRedrawInterval && done != total_) return;
    lastDrawn_ = now;
    shown_ = true;
    std::fprintf(stderr, "\rframe %d of %d (%d%%)", done, total_,
                 static_cast<int>(100LL * done / (total_ > 0 ? total_ : 1)));
    std::fflush(stderr);
}

void ProgressLine::finish()
{
    if (!shown_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    shown_ = false;
}
