// The settings panel drawn over the water with Dear ImGui (G or Tab): the
// run, the rain, the water's relaxation factor, the view and the live
// figures. Hidden at start, and Dear ImGui is set up only when the panel is
// first drawn, so a run that never shows it draws, reads its input and
// titles its window exactly as without it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/live_readout.h"
#include "app/water_volume.h"
#include "app/window_keys.h"
#include "model/device_settings.h"
#include "model/simulation_step.h"
#include "panel_layer.h"

struct GLFWwindow;
struct WaterModel;

// What the panel shows of the window, read before each drawing.
struct PanelState {
    bool paused;
    bool coloured;
    int32_t step;
    const LiveFigures& figures;
    const std::string& device;
    const std::deque<float>& recentMillisecondsPerStep;
};

// What one drawing of the panel asks of the window, which applies it: the
// commands of its buttons, as if their keys were pressed, and a new picture
// of the water (the depth range changed). The settings themselves are the
// panel's (settings()). `deviceCannotContinue` ends the run.
struct PanelActions {
    std::vector<WindowCommand> commands;
    bool redisplay = false;
    bool deviceCannotContinue = false;
};

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

    // Input came to the window: the panel is drawn anew.
    void inputArrived() { layer_.markChanged(); }

    // Whether the pointer or the keys are the panel's now (over it, or
    // typing into it): the window's own mouse drops and keys leave them.
    bool capturesMouse() const;
    bool capturesKeyboard() const;

    // While visible: draws the panel over the picture just drawn (the quad's
    // vertex array draws its layer), writes the settings changed in it to
    // the device, and returns what the window is to do.
    PanelActions draw(const PanelState& state, WaterModel& model, unsigned int vao);

    // The window's top-left corner that the panel's last drawing covers
    // opaquely (its edge, which blends, left out), so that the water need
    // not be drawn there; 0 x 0 while hidden or drawn without its layer.
    int coveredWidth() const { return visible_ && setUp_ && !layerFailed_ ? coveredWidth_ : 0; }
    int coveredHeight() const { return visible_ && setUp_ && !layerFailed_ ? coveredHeight_ : 0; }

    // Shuts Dear ImGui down, if it was set up; before the GL context goes.
    void close();

    const WindowSettings& settings() const { return settings_; }

private:
    bool setUp();
    void drawRun(const PanelState& state, PanelActions& actions);
    void drawRain();
    bool drawWater();
    bool drawView(const PanelState& state, PanelActions& actions);
    bool drawFigures(const PanelState& state, WaterModel& model);

    GLFWwindow* window_;
    bool visible_ = false;
    bool setUp_ = false;
    bool setUpFailed_ = false;
    WindowSettings settings_;
    WaterVolume volume_;
    PanelLayer layer_;
    bool layerFailed_ = false;
    int coveredWidth_ = 0;
    int coveredHeight_ = 0;
};
