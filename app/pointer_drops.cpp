#include "pointer_drops.h"

#include <algorithm>
#include <cmath>

#include "model/grid_size.h"
#include "model/water_model.h"
#include "model/simulation_step.h"

namespace {

// Clicks kept while paused; more are ignored until the water moves again.
constexpr size_t kMaxWaitingClicks = 64;

int cellAlong(double position, int windowExtent, int gridExtent)
{
    if (windowExtent <= 0) return 0;
    const double cell = std::floor((position + 0.5) * gridExtent / windowExtent);
    return static_cast<int>(std::clamp(cell, 0.0, static_cast<double>(gridExtent - 1)));
}

}  // namespace

GridCell gridCellUnderCursor(double x, double y, int windowWidth, int windowHeight)
{
    return {cellAlong(x, windowWidth, kGridWidth), cellAlong(y, windowHeight, kGridHeight)};
}

void PointerDrops::press(GridCell cell)
{
    held_ = true;
    dragPending_ = false;
    if (clicks_.size() < kMaxWaitingClicks) clicks_.push_back(cell);
}

void PointerDrops::moveTo(GridCell cell)
{
    if (!held_) return;
    drag_ = cell;
    dragPending_ = true;
}

bool PointerDrops::fallOn(WaterModel& model)
{
    if (dragPending_) clicks_.push_back(drag_);
    dragPending_ = false;
    for (const GridCell& cell : clicks_) {
        if (!model.addRainDrop(static_cast<float>(cell.column), static_cast<float>(cell.row), kDropStrength,
                               kDropRadius) &&
            deviceCannotContinue()) {
            clicks_.clear();
            return false;
        }
    }
    clicks_.clear();
    return true;
}

void PointerDrops::clear()
{
    clicks_.clear();
    dragPending_ = false;
}
