// The stencil table of the streaming: for each class of cell (interior, on
// one wall, in a corner), which value of which neighbour each direction
// takes, walls bouncing values back. It is read once from the kernel's own
// per-thread code (kernels/stream.h), run on a small grid whose f names
// each float's position; should that code stop following such a pattern,
// the streaming runs it thread by thread. The frame pass streams its rows
// by it, and so does the streaming launched alone.
#pragma once

#include <cstddef>

#include "cpu_backend/kernels/kernel_set.h"
#include "kernels/stream.h"

#include "cpu_backend/runtime/memory_copy.h"

namespace CPU_KERNELS {

// Cells fall into nine classes by the walls they lie on: none (the
// interior), one side, or two sides at a corner.
constexpr int kCellClasses = 9;

// Streaming goes in segments of one tile row: 16 cells, nine cache lines.
constexpr int kStreamSegmentCells = kStreamTile;

// A streaming pass over a grid: its arrays, the stencil table (direction k
// of a cell of class c takes direction sourceDirection[c][k] of the cell
// rowStep[c][k] rows and columnStep[c][k] cells away), and whether
// interior rows can go line by line (every direction from the same
// direction of a neighbour).
struct StreamLaunch {
    const float* f;
    float* fStream;
    int width;
    int height;
    int rowStep[kCellClasses][9];
    int columnStep[kCellClasses][9];
    int sourceDirection[kCellClasses][9];
    bool interiorByLines;
};

// Prepares streaming of a width x height grid (multiples of the 16-cell
// tile, at most 2^23 cells). Returns false where the kernel's pull did not
// follow a pattern that can be streamed this way: the launch must then run
// the kernel thread by thread.
bool prepareStreamLaunch(const float* f, float* fStream, int width, int height, StreamLaunch* launch);

constexpr int kInteriorClass = 0;

inline int cellClass(int x, int y, int width, int height)
{
    const int column = x == 0 ? 1 : x == width - 1 ? 2 : 0;
    const int row = y == 0 ? 1 : y == height - 1 ? 2 : 0;
    return column + 3 * row;
}

// Direction k of cell x of row y by its class's pull, from the rows above,
// at and below it (rows[0] to rows[2]) as Layout lays them out: value k of
// cell x at Layout::at(row, k, x).
template <typename Layout>
float pullValue(const StreamLaunch& launch, const Layout& rows, int x, int y, int k)
{
    const int cls = cellClass(x, y, launch.width, launch.height);
    return rows.at(launch.rowStep[cls][k] + 1, launch.sourceDirection[cls][k], x + launch.columnStep[cls][k]);
}

// Rows in cell order, as f stores them; and in direction-major order, as
// the frame pass keeps its collided rows (value k of cell x at
// row[k * stride + x]).
struct CellMajorRows {
    const float* row[3];
    float at(int r, int k, int x) const { return row[r][static_cast<size_t>(x) * 9 + k]; }
};
struct DirectionMajorRows {
    const float* row[3];
    size_t stride;
    float at(int r, int k, int x) const { return row[r][static_cast<size_t>(k) * stride + x]; }
};

// Streams the 16 cells of grid row y from column 16 s on, each by its
// class's pull, with streaming stores.
template <typename Layout>
void streamSegment(const StreamLaunch& launch, const Layout& rows, int y, int s)
{
    float segment[kStreamSegmentCells * 9];
    for (int c = 0; c < kStreamSegmentCells; ++c)
        for (int k = 0; k < 9; ++k) segment[c * 9 + k] = pullValue(launch, rows, s * kStreamSegmentCells + c, y, k);
    const size_t first = static_cast<size_t>(y) * launch.width + static_cast<size_t>(s) * kStreamSegmentCells;
    cpu_runtime::copyBypassingCache(launch.fStream + first * 9, segment, sizeof segment);
}

}  // namespace CPU_KERNELS
