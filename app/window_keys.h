// What each key of the window does, and the help text that lists the keys
// and the mouse (printed by H in the window and by --help).
#pragma once

enum class WindowCommand {
    None,
    Close,          // Esc: as the window's close button
    TogglePause,    // Space or P
    StepOnce,       // Right arrow or N, while paused
    Restart,        // R: still water, rain from its first drop
    PrintHelp,      // H
    ToggleReadout,  // I: figures in the title
    ToggleColours,  // C: the water-coloured view
    SaveView,       // S: the view as shown, as a PNG image
    TogglePanel,    // G or Tab: the settings panel
};

// The command of a GLFW key token (layout-independent key position);
// None for keys that do nothing.
WindowCommand commandForKey(int key);

// The keys and the mouse, one per line, each line indented by two spaces.
extern const char* const kWindowControlsHelp;
