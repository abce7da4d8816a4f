#include "window_keys.h"

#include <GLFW/glfw3.h>

WindowCommand commandForKey(int key)
{
    switch (key) {
    case GLFW_KEY_ESCAPE: return WindowCommand::Close;
    case GLFW_KEY_SPACE:
    case GLFW_KEY_P: return WindowCommand::TogglePause;
    case GLFW_KEY_RIGHT:
    case GLFW_KEY_N: return WindowCommand::StepOnce;
    case GLFW_KEY_R: return WindowCommand::Restart;
    case GLFW_KEY_H: return WindowCommand::PrintHelp;
    case GLFW_KEY_I: return WindowCommand::ToggleReadout;
    case GLFW_KEY_C: return WindowCommand::ToggleColours;
    case GLFW_KEY_S: return WindowCommand::SaveView;
    case GLFW_KEY_G:
    case GLFW_KEY_TAB: return WindowCommand::TogglePanel;
    default: return WindowCommand::None;
    }
}

const char* const kWindowControlsHelp =
    "  Space, P     pause and resume (the last frame stays on screen)\n"
    "  Right, N     while paused: advance one frame (one step, or the panel's steps a\n"
    "               frame), rain included\n"
    "  R            start again from still water, the rain from its first drop\n"
    "  I            figures in the title: frames a second, milliseconds a step,\n"
    "               million cell updates a second, the device\n"
    "  C            the water-coloured view (shaded by the slope), or back to grey\n"
    "  S            save the view as shown, at the window's size, as\n"
    "               shallow-water-step-N.png in the current folder (never replacing a file)\n"
    "  G, Tab       the settings panel: run, rain, relaxation, view range, figures\n"
    "  H            print these keys\n"
    "  Esc          close the window\n"
    "  left mouse   a drop where you click; hold and drag for a drop a frame along\n"
    "               the path (clicks while paused fall at the next step)\n";
