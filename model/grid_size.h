// The simulation grid, fixed for the application: the model, the display
// texture, each frame's upload and the rain positions all use it.
#pragma once

constexpr int kGridWidth = 2688;
constexpr int kGridHeight = 1536;
