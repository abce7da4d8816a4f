#include "window_controls.h"

#include <GLFW/glfw3.h>

#include <cstdio>

#include "shallow_water_app.h"

namespace {

WindowControls& controlsOf(GLFWwindow* window)
{
    return *static_cast<WindowControls*>(glfwGetWindowUserPointer(window));
}

GridCell cellUnderCursor(GLFWwindow* window, double x, double y)
{
    int width = 0;
    int height = 0;
    glfwGetWindowSize(window, &width, &height);
    return gridCellUnderCursor(x, y, width, height);
}

void onKey(GLFWwindow* window, int key, int, int action, int)
{
    controlsOf(window).panel.inputArrived();
    // Typing into the panel is the panel's.
    if (controlsOf(window).panel.capturesKeyboard()) return;
    const WindowCommand command = commandForKey(key);
    // A held arrow keeps stepping; every other key acts once per press.
    if (action == GLFW_PRESS || (action == GLFW_REPEAT && command == WindowCommand::StepOnce))
        controlsOf(window).handle(command);
}

void onMouseButton(GLFWwindow* window, int button, int action, int)
{
    controlsOf(window).panel.inputArrived();
    if (button != GLFW_MOUSE_BUTTON_LEFT) return;
    PointerDrops& drops = controlsOf(window).drops;
    if (action == GLFW_RELEASE) {
        drops.release();
        return;
    }
    // A press on the panel is the panel's; a release always ends a drag.
    if (controlsOf(window).panel.capturesMouse()) return;
    double x = 0.0;
    double y = 0.0;
    glfwGetCursorPos(window, &x, &y);
    drops.press(cellUnderCursor(window, x, y));
}

void onCursorMoved(GLFWwindow* window, double x, double y)
{
    controlsOf(window).panel.inputArrived();
    controlsOf(window).drops.moveTo(cellUnderCursor(window, x, y));
}

// Exposed or resized: a paused window draws its last frame again.
void onRefresh(GLFWwindow* window)
{
    controlsOf(window).panel.inputArrived();
    controlsOf(window).run.requestRedraw();
}

void onFramebufferSize(GLFWwindow* window, int, int)
{
    controlsOf(window).panel.inputArrived();
    controlsOf(window).run.requestRedraw();
}

}  // namespace

WindowControls::WindowControls(GLFWwindow* window, const int32_t& step, int cellsPerStep)
    : readout(window, cellsPerStep), panel(window), window_(window), step_(step)
{
    glfwSetWindowUserPointer(window, this);
    glfwSetKeyCallback(window, onKey);
    glfwSetMouseButtonCallback(window, onMouseButton);
    glfwSetCursorPosCallback(window, onCursorMoved);
    glfwSetWindowRefreshCallback(window, onRefresh);
    glfwSetFramebufferSizeCallback(window, onFramebufferSize);
}

void WindowControls::handle(WindowCommand command)
{
    switch (command) {
    case WindowCommand::None: break;
    case WindowCommand::Close: glfwSetWindowShouldClose(window_, GLFW_TRUE); break;
    case WindowCommand::TogglePause:
        run.togglePause();
        readout.stateChanged(step_, run.paused());
        break;
    case WindowCommand::StepOnce: run.requestStep(); break;
    case WindowCommand::Restart: run.requestRestart(); break;
    case WindowCommand::PrintHelp:
        std::printf("Keys and mouse of the window:\n%s", kWindowControlsHelp);
        std::fflush(stdout);
        break;
    case WindowCommand::ToggleReadout: readout.toggle(step_, run.paused()); break;
    case WindowCommand::ToggleColours:
        view.toggleColours();
        run.requestRedraw();
        break;
    case WindowCommand::TogglePanel:
        panel.toggle();
        run.requestRedraw();
        break;
    case WindowCommand::SaveView:
        // The next frame drawn is saved; a paused window draws its picture again.
        saveView_ = true;
        run.requestRedraw();
        break;
    }
}

bool WindowControls::drawPanel(ShallowWaterApp& app)
{
    readout.setFiguresWanted(panel.visible());
    const PanelState state{run.paused(),      view.coloured(), step_, readout.figures(), readout.device(),
                           readout.recentMillisecondsPerStep()};
    const PanelActions actions = panel.draw(state, *app.model, app.vao);
    // A panel that could not be set up has hidden itself.
    readout.setFiguresWanted(panel.visible());
    if (actions.deviceCannotContinue) return false;
    for (const WindowCommand command : actions.commands) handle(command);
    if (actions.redisplay) {
        if (!app.redisplay()) return false;
        run.requestRedraw();
    }
    return true;
}

bool WindowControls::takeSaveView()
{
    const bool asked = saveView_;
    saveView_ = false;
    return asked;
}

void WindowControls::processEvents()
{
    if (run.workWaiting()) {
        glfwPollEvents();
    } else if (panel.visible()) {
        glfwWaitEventsTimeout(0.5);
        run.requestRedraw();
    } else {
        glfwWaitEvents();
    }
}
