#include "run_control.h"

namespace {

// Steps asked for while paused wait here; a held key's repeats beyond this
// are dropped rather than run long after the key is released.
constexpr int kMaxStepsAsked = 8;

}  // namespace

void RunControl::togglePause()
{
    paused_ = !paused_;
    stepsAsked_ = 0;
    redraw_ = true;
}

void RunControl::requestStep()
{
    if (paused_ && stepsAsked_ < kMaxStepsAsked) ++stepsAsked_;
}

bool RunControl::takeRestart()
{
    const bool restart = restart_;
    restart_ = false;
    return restart;
}

bool RunControl::takeStep()
{
    if (!paused_) return true;
    if (stepsAsked_ == 0) return false;
    --stepsAsked_;
    return true;
}

bool RunControl::takeRedraw()
{
    const bool redraw = redraw_;
    redraw_ = false;
    return redraw;
}
