#include "settings_panel.h"

#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include <cfloat>
#include <cstdio>
#include <vector>

#include "model/water_model.h"

namespace {

constexpr float kPanelWidth = 300.0f;
constexpr float kControlWidth = 150.0f;
// Typed values (Ctrl+click on a slider) stop at the slider's ends.
constexpr ImGuiSliderFlags kClamped = ImGuiSliderFlags_AlwaysClamp;

}  // namespace

bool SettingsPanel::setUp()
{
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    // Nothing is written to the current folder: the panel starts the same
    // every run.
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // The panel needs no cursor shapes; without this the backend sets the
    // cursor through the window system every frame.
    io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
    ImGui::StyleColorsDark();
    ImGuiStyle& style = ImGui::GetStyle();
    style.FramePadding.y = 2.0f;
    style.ItemSpacing.y = 3.0f;
    style.WindowRounding = 0.0f;
    // Dear ImGui's GLFW backend calls the window's own callbacks after its
    // own, so the keys and the mouse keep working beside the panel.
    if (!ImGui_ImplGlfw_InitForOpenGL(window_, true)) {
        ImGui::DestroyContext();
        return false;
    }
    if (!ImGui_ImplOpenGL3_Init("#version 410 core")) {
        ImGui_ImplGlfw_Shutdown();
        ImGui::DestroyContext();
        return false;
    }
    return true;
}

void SettingsPanel::close()
{
    if (!setUp_) return;
    layer_.release();
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    setUp_ = false;
}

bool SettingsPanel::capturesMouse() const
{
    return visible_ && setUp_ && ImGui::GetIO().WantCaptureMouse;
}

bool SettingsPanel::capturesKeyboard() const
{
    return visible_ && setUp_ && ImGui::GetIO().WantCaptureKeyboard;
}

PanelActions SettingsPanel::draw(const PanelState& state, WaterModel& model, unsigned int vao)
{
    PanelActions actions;
    if (!visible_) return actions;
    if (!setUp_) {
        if (setUpFailed_ || !setUp()) {
            if (!setUpFailed_) std::fprintf(stderr, "The settings panel could not be set up.\n");
            setUpFailed_ = true;
            visible_ = false;
            return actions;
        }
        setUp_ = true;
    }

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    // Opaque, at the corner: the water under it is not drawn.
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always);
    ImGui::SetNextWindowSize(ImVec2(kPanelWidth, 0.0f), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(1.0f);
    ImGui::Begin("Settings (G)", nullptr,
                 ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoCollapse);
    ImGui::PushItemWidth(kControlWidth);
    drawRun(state, actions);
    drawRain();
    bool deviceUsable = drawWater();
    deviceUsable = deviceUsable && drawView(state, actions);
    deviceUsable = deviceUsable && drawFigures(state, model);
    ImGui::PopItemWidth();
    const ImVec2 corner(ImGui::GetWindowPos().x + ImGui::GetWindowSize().x,
                        ImGui::GetWindowPos().y + ImGui::GetWindowSize().y);
    ImGui::End();
    ImGui::Render();
    if (layerFailed_ || !layer_.show(ImGui::GetDrawData(), static_cast<int>(corner.x), static_cast<int>(corner.y),
                                     vao)) {
        layerFailed_ = true;
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    }
    // The border's pixel blends with the water beneath it.
    const ImVec2 scale = ImGui::GetDrawData()->FramebufferScale;
    coveredWidth_ = static_cast<int>((corner.x - 2.0f) * scale.x);
    coveredHeight_ = static_cast<int>((corner.y - 2.0f) * scale.y);
    actions.deviceCannotContinue = !deviceUsable;
    return actions;
}

void SettingsPanel::drawRun(const PanelState& state, PanelActions& actions)
{
    ImGui::TextUnformatted("Run");
    if (ImGui::Button(state.paused ? "Resume" : "Pause")) actions.commands.push_back(WindowCommand::TogglePause);
    ImGui::SameLine();
    if (!state.paused) ImGui::BeginDisabled();
    if (ImGui::Button("Step")) actions.commands.push_back(WindowCommand::StepOnce);
    if (!state.paused) ImGui::EndDisabled();
    ImGui::SameLine();
    if (ImGui::Button("Restart")) actions.commands.push_back(WindowCommand::Restart);
    ImGui::SameLine();
    ImGui::Text("step %d", static_cast<int>(state.step));
    ImGui::SliderInt("steps a frame", &settings_.stepsPerFrame, 1, kMostStepsPerFrame, "%d", kClamped);
}

void SettingsPanel::drawRain()
{
    ImGui::Separator();
    ImGui::Checkbox("Rain", &settings_.rain.falls);
    ImGui::SameLine(kPanelWidth - 70.0f);
    if (ImGui::Button("defaults")) settings_.rain = RainSettings{};
    ImGui::SliderFloat("chance a step", &settings_.rain.chance, 0.0f, kLargestRainChance, "%.3f", kClamped);
    ImGui::SliderFloat("drop radius", &settings_.rain.dropRadius, kSmallestDropRadius, kLargestDropRadius, "%.1f",
                       kClamped);
    ImGui::SliderFloat("drop strength", &settings_.rain.dropStrength, -kStrongestDrop, kStrongestDrop, "%.5f",
                       kClamped);
}

bool SettingsPanel::drawWater()
{
    ImGui::Separator();
    ImGui::TextUnformatted("Water");
    float relaxation = settings_.relaxation;
    bool changed = ImGui::SliderFloat("relaxation", &relaxation, kSmallestRelaxation, kLargestRelaxation, "%.4f",
                                      kClamped);
    ImGui::SameLine();
    if (ImGui::Button("2/3")) {
        relaxation = kDefaultRelaxation;
        changed = true;
    }
    if (!changed || relaxation == settings_.relaxation) return true;
    // A value the device did not take leaves the control where it was.
    if (setRelaxationFactor(relaxation)) {
        settings_.relaxation = relaxation;
        return true;
    }
    return !deviceCannotContinue();
}

bool SettingsPanel::drawView(const PanelState& state, PanelActions& actions)
{
    ImGui::Separator();
    bool coloured = state.coloured;
    if (ImGui::Checkbox("Coloured view (C)", &coloured)) actions.commands.push_back(WindowCommand::ToggleColours);
    float black = settings_.blackDepth;
    float white = settings_.whiteDepth;
    bool changed = ImGui::SliderFloat("black at depth", &black, kShallowestBlackDepth, white - kNarrowestDepthRange,
                                      "%.5f", kClamped);
    changed |= ImGui::SliderFloat("white at depth", &white, black + kNarrowestDepthRange, kDeepestWhiteDepth,
                                  "%.5f", kClamped);
    if (ImGui::Button("default range")) {
        black = kDefaultBlackDepth;
        white = kDefaultWhiteDepth;
        changed = true;
    }
    if (!changed || (black == settings_.blackDepth && white == settings_.whiteDepth)) return true;
    if (!setDepthRange(black, white)) return !deviceCannotContinue();
    settings_.blackDepth = black;
    settings_.whiteDepth = white;
    // The picture of the water as it is, in the new range, also while paused.
    actions.redisplay = true;
    return true;
}

bool SettingsPanel::drawFigures(const PanelState& state, WaterModel& model)
{
    ImGui::Separator();
    const LiveFigures& figures = state.figures;
    if (figures.measured) {
        ImGui::Text("%.1f frames/s, %.2f ms/step", figures.framesPerSecond, figures.millisecondsPerStep);
        ImGui::Text("%.1f M cell updates/s", figures.millionCellUpdatesPerSecond);
    } else {
        ImGui::TextUnformatted(state.paused ? "paused" : "measuring");
        ImGui::NewLine();
    }
    ImGui::TextUnformatted(state.device.c_str());
    if (!volume_.update(model, state.step, state.paused) && deviceCannotContinue()) return false;
    if (volume_.measured())
        ImGui::Text("volume %.3f, drift %+.3g", volume_.volume(), volume_.relativeDrift());
    const std::deque<float>& recent = state.recentMillisecondsPerStep;
    const std::vector<float> plotted(recent.begin(), recent.end());
    ImGui::PlotLines("##ms", plotted.data(), static_cast<int>(plotted.size()), 0, "ms a step, last 5 s", 0.0f,
                     FLT_MAX, ImVec2(kPanelWidth - 16.0f, 40.0f));
    return true;
}
