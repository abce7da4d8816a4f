// Whether the window's frames advance the water: running (one step every
// frame, as without any input), or paused (steps only when asked for, and
// the loop sleeps until an event comes).
#pragma once

class RunControl {
public:
    bool paused() const { return paused_; }
    void togglePause();

    // While paused: one step at the next pass of the loop. Ignored while
    // running, where every pass steps anyway.
    void requestStep();

    // A restart at the next pass of the loop, before its step.
    void requestRestart() { restart_ = true; }
    bool takeRestart();

    // Whether this pass of the loop runs a step: always while running; while
    // paused, once for each step asked for.
    bool takeStep();

    // The paused picture must be drawn again: the window was exposed or
    // resized, the view changed, or the water was restarted.
    void requestRedraw() { redraw_ = true; }
    bool takeRedraw();

    // Whether the loop has something to do before it waits for events.
    bool workWaiting() const { return !paused_ || stepsAsked_ > 0 || restart_ || redraw_; }

private:
    bool paused_ = false;
    int stepsAsked_ = 0;
    bool restart_ = false;
    bool redraw_ = false;
};
