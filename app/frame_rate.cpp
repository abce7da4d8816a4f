#include "frame_rate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
