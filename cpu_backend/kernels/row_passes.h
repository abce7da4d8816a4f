// The work of the collision and of the streaming over whole grid rows,
// shared by their own launches and by the frame step that runs them
// together (frame_step.cpp).
#pragma once

#include <cstddef>

#include "kernel_set.h"

namespace CPU_KERNELS {

// Collides cells first .. first + count - 1 of step.f into `collided` (the
// cells' own place in step.f, or a buffer of count cells), writing their
// depth to step.h, then decays both force fields over the same cells.
// Returns how many force segments (of both fields) it read and rewrote:
// those not known to hold only +0.0.
int collideAndDecayCells(const FrameStep& step, size_t first, int count, float* collided);

// Cells fall into nine classes by the walls they lie on: none (the
// interior), one side, or two sides at a corner.
constexpr int kCellClasses = 9;

struct NeighbourLanes;

// A streaming pass over a grid: its arrays, each class's pull (direction k
// of a cell takes the value rowStep rows away, inRowOffset floats from the
// cell's own direction k within that row), whether the pulls move every
// value of f to exactly one place, and whether interior rows can go line by
// line (with the lane table for that).
struct StreamLaunch {
    const float* f;
    float* fStream;
    int width;
    int height;
    int rowStep[kCellClasses][9];
    int inRowOffset[kCellClasses][9];
    bool movesEachValueOnce;
    bool interiorByLines;
    const NeighbourLanes* neighbourLanes;
};

// Prepares streaming of a width x height grid (multiples of the 16-cell
// tile, at most 2^23 cells). Returns false where the kernel's pull did not
// follow a pattern that can be streamed this way: the launch must then run
// the kernel thread by thread.
bool prepareStreamLaunch(const float* f, float* fStream, int width, int height, StreamLaunch* launch);

// Streams grid row y into fStream with streaming stores; the caller calls
// cpu_runtime::finishCopiesBypassingCache() before the rows are read.
void streamGridRow(const StreamLaunch& launch, int y);

// The same, taking the collided rows y - 1, y and y + 1 from wherever they
// lie (not launch.f); the pointers of rows outside the grid are not read.
void streamGridRowFrom(const StreamLaunch& launch, int y, const float* const (&rowsAround)[3]);

}  // namespace CPU_KERNELS
