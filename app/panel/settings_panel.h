// The settings panel drawn over the water with Dear ImGui (G or Tab): the
// run, the rain, the water's relaxation factor, the view and the live
// figures. Hidden at start, and Dear ImGui is set up only when the panel is
// first drawn, so a run that never shows it draws, reads its input and
// titles its window exactly as without it.
#pragma once

#include "app/simulation_step.h"
#include "app/water_volume.h"
#include "model/device_settings.h"

struct GLFWwindow;
class ShallowWaterApp;
class WindowControls;

// What the panel sets; the frame loop reads the steps and the rain, the
// panel writes the relaxation factor and the depth range to the device.
struct WindowSettings {
    int stepsPerFrame = 1;
    RainSettings rain;
    float relaxation = kDefaultRelaxation;
    float blackDepth = kDefaultBlackDepth;
    float whiteDepth = kDefaultWhiteDepth;
};

// The depth range the view's controls offer, around the still water's 0.05.
constexpr float kShallowestBlackDepth = 0.04f;
constexpr float kDeepestWhiteDepth = 0.06f;
constexpr float kNarrowestDepthRange = 0.0001f;

class SettingsPanel {
public:
    explicit SettingsPanel(GLFWwindow* window) : window_(window) {}
    SettingsPanel(const SettingsPanel&) = delete;
    SettingsPanel& operator=(const SettingsPanel&) = delete;

    bool visible() const { return visible_; }
    void toggle() { visible_ = !visible_; }

    // Whether the pointer or the keys are the panel's now (over it, or
    // typing into it): the window's own mouse drops and keys leave them.
    bool capturesMouse() const;
    bool capturesKeyboard() const;

    // While visible: draws the panel over the picture just drawn and applies
    // what was changed in it. False when the device cannot continue.
    bool draw(ShallowWaterApp& app, WindowControls& controls);

    // Shuts Dear ImGui down, if it was set up; before the GL context goes.
    void close();

    const WindowSettings& settings() const { return settings_; }

private:
    bool setUp();
    void drawRun(WindowControls& controls, int32_t step);
    void drawRain();
    bool drawWater();
    bool drawView(ShallowWaterApp& app, WindowControls& controls);
    bool drawFigures(ShallowWaterApp& app, WindowControls& controls);

    GLFWwindow* window_;
    bool visible_ = false;
    bool setUp_ = false;
    bool setUpFailed_ = false;
    WindowSettings settings_;
    WaterVolume volume_;
};
