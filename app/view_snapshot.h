// The window's S: the view as it is drawn, kept as a PNG image.
#pragma once

#include <cstdint>

// Reads back the frame just drawn (the back buffer, at the viewport's size,
// before it is shown) and writes it as shallow-water-step-STEP.png in the
// current folder, never replacing a file (the name then gets -2, -3 ...).
// Prints the name written on standard output; after a failure, what went
// wrong on standard error, and returns false. The window goes on either way.
bool saveViewSnapshot(int32_t step);
