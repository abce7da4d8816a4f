// The window's keys and mouse: GLFW's callbacks feed the run control, the
// mouse's drops, the view and the figures, which the frame loop reads.
// Nothing here acts until a key or button is pressed.
#pragma once

#include <cstdint>

#include "live_readout.h"
#include "panel/settings_panel.h"
#include "pointer_drops.h"
#include "run_control.h"
#include "water_view.h"
#include "window_keys.h"

struct GLFWwindow;
class ShallowWaterApp;

class WindowControls {
public:
    // Installs the key, mouse, cursor, refresh and framebuffer-size
    // callbacks on the window; `step` is read for the figures.
    WindowControls(GLFWwindow* window, const int32_t& step, int cellsPerStep);

    void handle(WindowCommand command);

    // Draws the settings panel, if shown, over the picture just drawn and
    // does what it asks. False when the device cannot continue.
    bool drawPanel(ShallowWaterApp& app);

    // Whether the frame being drawn is to be saved (S), asked once.
    bool takeSaveView();

    // Processes the window's events: polls while running or while a step,
    // restart or redraw waits; otherwise (paused) sleeps until an event comes,
    // and with the panel shown draws again after it (or after half a second,
    // for the panel's own animation of what it was given).
    void processEvents();

    RunControl run;
    PointerDrops drops;
    WaterView view;
    LiveReadout readout;
    SettingsPanel panel;

private:
    GLFWwindow* window_;
    const int32_t& step_;
    bool saveView_ = false;
};
