// How the step pass keeps the distributions between steps: every grid
// row direction-major, as nine runs of `width` floats (direction k's run
// at k * width), in the same floats that hold the row in cell order. In
// this order the collision loads a run of cells' values with plain vector
// loads, and the streaming is each run read one cell to the side. Only the
// step pass reads this order: before anything else could see the
// distributions, the cell order that the launches would have left is
// restored (restoreCellMajor).
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>
#include <cstring>

#include "chunk_collision.h"
#include "stencil_table.h"
#include "streaming_copy.h"

namespace CPU_KERNELS {

// Rows y - 1, y and y + 1 of direction-major distributions, as the stencil
// table's pull reads them (value k of cell x at row[r][k * stride + x]);
// null outside the grid, where no class of cell pulls from.
struct DirectionMajorRows {
    const float* row[3];
    size_t stride;
    float at(int r, int k, int x) const { return row[r][static_cast<size_t>(k) * stride + x]; }
};

inline float* directionMajorRow(float* distributions, int width, int y)
{
    return distributions + static_cast<size_t>(y) * static_cast<size_t>(width) * kDirections;
}

inline DirectionMajorRows directionMajorRowsAround(const float* distributions, int width, int height, int y)
{
    DirectionMajorRows rows{{}, static_cast<size_t>(width)};
    for (int r = 0; r < 3; ++r) {
        const int row = y - 1 + r;
        if (row >= 0 && row < height) rows.row[r] = distributions + static_cast<size_t>(row) * width * kDirections;
    }
    return rows;
}

// The runs of cells that a chunk of interior cells x0 .. x0 + count - 1
// of an interior row y pulls from: away from the walls every direction of
// a cell comes from the same direction of one neighbour, so a direction's
// run of cells is a run of its source row one cell to the side.
inline ChunkRuns interiorSourceRuns(const GridStencil& stencil, const DirectionMajorRows& around, int x0)
{
    ChunkRuns runs;
    for (int k = 0; k < kDirections; ++k)
        runs.run[k] = around.row[stencil.rowStep[kInteriorClass][k] + 1] + k * around.stride + x0 +
                      stencil.columnStep[kInteriorClass][k];
    return runs;
}

// The streamed values of cells x0 .. x0 + count - 1 (at most a chunk) of
// row y into a chunk's direction-major rows, pulled from the rows around
// it: each direction's run copied whole (interiorSourceRuns), the cells on
// the walls pulled by their own classes.
inline void pullChunk(const GridStencil& stencil, const DirectionMajorRows& around, int y, int x0, int count, float* chunk)
{
    if (y == 0 || y == stencil.height - 1 || !stencil.interiorByLines) {
        for (int c = 0; c < count; ++c)
            for (int k = 0; k < kDirections; ++k) chunk[k * kCollisionChunk + c] = pullValue(stencil, around, x0 + c, y, k);
        return;
    }
    const ChunkRuns runs = interiorSourceRuns(stencil, around, x0);
    for (int k = 0; k < kDirections; ++k) {
        const int column = stencil.columnStep[kInteriorClass][k];
        // Not past the row's ends: the cells there are on the walls.
        const int begin = x0 + column < 0 ? 1 : 0;
        const int end = x0 + count + column > stencil.width ? count - 1 : count;
        if (begin == 0 && end == kCollisionChunk)
            copyVectors(chunk + k * kCollisionChunk, runs.run[k], kCollisionChunk * sizeof(float));
        else
            std::memcpy(chunk + k * kCollisionChunk + begin, runs.run[k] + begin,
                        static_cast<size_t>(end - begin) * sizeof(float));
    }
    for (const int c : {0, count - 1}) {
        const int x = x0 + c;
        if (x == 0 || x == stencil.width - 1)
            for (int k = 0; k < kDirections; ++k) chunk[k * kCollisionChunk + c] = pullValue(stencil, around, x, y, k);
    }
}

// Where the collision reads the streamed values of that chunk from: for a
// whole chunk away from the walls, the source runs where they lie, nothing
// copied; for any other, the chunk's own rows, pulled into them.
inline ChunkRuns pullChunkRuns(const GridStencil& stencil, const DirectionMajorRows& around, int y, int x0, int count,
                               float* chunk)
{
    if (stencil.interiorByLines && y > 0 && y < stencil.height - 1 && x0 > 0 &&
        x0 + count < stencil.width && count == kCollisionChunk)
        return interiorSourceRuns(stencil, around, x0);
    pullChunk(stencil, around, y, x0, count, chunk);
    return chunkRows(chunk);
}

// `collided` holds a step's collided values direction-major, their
// streaming into `streamed` deferred: writes the streaming into `streamed`
// and puts `collided` back in cell order, as the step's launches run one
// by one leave them. False, having done nothing, where the streaming
// kernel follows no stencil table.
bool runRestoreCellMajor(float* collided, float* streamed, int width, int height);

}  // namespace CPU_KERNELS
