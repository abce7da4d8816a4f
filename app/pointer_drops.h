// Drops that the mouse adds: a left click drops at the grid cell under the
// cursor; holding the button and dragging adds one drop a frame along the
// path. Drops wait here until the next frame's steps (so clicks while paused fall
// when the water moves again).
#pragma once

#include <vector>

struct WaterModel;

struct GridCell {
    int column;
    int row;
};

// The grid cell shown under a cursor position in a window of the given size
// (screen coordinates from the top left). The viewport covers the whole
// window with the whole grid, row 0 at the top, so the mapping scales each
// axis on its own; the pixel's centre decides, as in the drawing.
GridCell gridCellUnderCursor(double x, double y, int windowWidth, int windowHeight);

class PointerDrops {
public:
    void press(GridCell cell);
    void release() { held_ = false; }
    // Cursor moved: while the button is held, the latest cell falls at the
    // next frame's steps (one drop a frame, however many moves came between).
    void moveTo(GridCell cell);

    bool empty() const { return clicks_.empty() && !dragPending_; }

    // Drops every waiting drop on the model with the rain's strength and
    // radius, clicks first. False when a drop failed and the device cannot
    // continue.
    bool fallOn(WaterModel& model);

    // Forgets what waits (a restart begins a new run).
    void clear();

private:
    std::vector<GridCell> clicks_;
    bool held_ = false;
    bool dragPending_ = false;
    GridCell drag_{0, 0};
};
