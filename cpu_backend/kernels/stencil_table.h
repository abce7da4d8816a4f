// The stencil table of the streaming: for each class of cell (interior, on
// one wall, in a corner), which value of which neighbour each direction
// takes, walls bouncing values back. It is read once from the kernel's own
// per-thread code (kernels/stream.h), run on a small grid whose f names
// each float's position; should that code stop following such a pattern,
// the streaming runs it thread by thread. The step pass pulls its chunks
// by it (direction_major.h), and so does the streaming launched alone
// (cpu_backend/kernels/stream_kernel.cpp).
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>

#include "kernel_set.h"
#include "kernels/stream.h"

namespace CPU_KERNELS {

// Cells fall into nine classes by the walls they lie on: none (the
// interior), one side, or two sides at a corner.
constexpr int kCellClasses = 9;

// The stencil table for a grid: its size, where each direction of a cell
// comes from (direction k of a cell of class c takes direction
// sourceDirection[c][k] of the cell rowStep[c][k] rows and columnStep[c][k]
// cells away), and whether interior rows can go run by run (every
// direction from the same direction of a neighbour).
struct GridStencil {
    int width;
    int height;
    int rowStep[kCellClasses][kDirections];
    int columnStep[kCellClasses][kDirections];
    int sourceDirection[kCellClasses][kDirections];
    bool interiorByLines;
};

// The stencil table for a width x height grid (multiples of the 16-cell
// tile, at most 2^23 cells). Returns false where the kernel's pull did not
// follow a pattern that can be streamed this way: the launch must then run
// the kernel thread by thread.
bool prepareGridStencil(int width, int height, GridStencil* stencil);

constexpr int kInteriorClass = 0;

inline int cellClass(int x, int y, int width, int height)
{
    const int column = x == 0 ? 1 : x == width - 1 ? 2 : 0;
    const int row = y == 0 ? 1 : y == height - 1 ? 2 : 0;
    return column + 3 * row;
}

// Direction k of cell x of row y by its class's pull, from the rows above,
// at and below it (rows[0] to rows[2]) as Layout lays them out: value k of
// cell x of rows[r] at Layout::at(r, k, x).
template <typename Layout>
float pullValue(const GridStencil& stencil, const Layout& rows, int x, int y, int k)
{
    const int cls = cellClass(x, y, stencil.width, stencil.height);
    return rows.at(stencil.rowStep[cls][k] + 1, stencil.sourceDirection[cls][k], x + stencil.columnStep[cls][k]);
}

}  // namespace CPU_KERNELS
