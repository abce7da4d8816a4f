// How the frame pass keeps the distributions between frames: every grid
// row direction-major, as nine runs of `width` floats (direction k's run
// at k * width), in the same floats that hold the row in cell order. In
// this order the collision loads a run of cells' values with plain vector
// loads, and the streaming is each run read one cell to the side. Only the
// frame pass reads this order: before anything else could see the
// distributions, the cell order that the launches would have left is
// restored (restoreCellMajor).
#pragma once

#include <cstddef>

#include "stencil_table.h"

namespace CPU_KERNELS {

inline float* directionMajorRow(float* distributions, int width, int y)
{
    return distributions + static_cast<size_t>(y) * static_cast<size_t>(width) * 9;
}

// Rows y - 1, y and y + 1 of direction-major distributions, as the stencil
// table's pull reads them; null outside the grid (never read there).
inline DirectionMajorRows directionMajorRowsAround(const float* distributions, int width, int height, int y)
{
    DirectionMajorRows rows{{}, static_cast<size_t>(width)};
    for (int r = 0; r < 3; ++r) {
        const int row = y - 1 + r;
        if (row >= 0 && row < height) rows.row[r] = distributions + static_cast<size_t>(row) * width * 9;
    }
    return rows;
}

// `collided` holds a frame's collided values direction-major, and
// `streamed` is owed their streaming: writes the streaming into `streamed`
// and puts `collided` back in cell order, as the frame's launches run one
// by one leave them. False, having done nothing, where the streaming
// kernel follows no stencil table.
bool runRestoreCellMajor(float* collided, float* streamed, int width, int height);

}  // namespace CPU_KERNELS
