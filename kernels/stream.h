// kStream: every distribution value moves one cell along its direction; the
// four edges of the grid are walls that bounce values back.
//
// A block of 18 x 18 threads copies the 16 x 16 cells of its tile and their
// one-cell border into shared memory (phase 1), meets at one barrier, and its
// first 16 x 16 threads pull their cells' values from the tile (phase 2).
// The grid's size is 16 times the launch's grid extents.
//
// CPU specialisation: cpu_backend/kernels/stencil_table.cpp reads from this
// code where each class of cell pulls from; if a change here breaks that
// pattern (one fixed offset per direction and class), the CPU falls back to
// running it thread by thread, correct but several times slower.
#pragma once

#include "device_constants.h"
#include "kernel_support.h"

constexpr int kStreamTile = 16;                         // cells per tile side
constexpr int kStreamTileWithBorder = kStreamTile + 2;  // threads per block side
constexpr int kStreamTileFloats = kStreamTileWithBorder * kStreamTileWithBorder * kDirections;

// Offset in f of the nine values of the cell that tile slot (tx, ty) stands
// for, (16 bx + tx - 1, 16 by + ty - 1); meaningful when it is in the grid.
SW_DEVICE int streamSourceOffset(const ThreadIndex& t)
{
    const int width = kStreamTile * static_cast<int>(t.gridDim.x);
    const int gx = mul24(static_cast<int>(t.blockIdx.x), kStreamTile) + static_cast<int>(t.threadIdx.x) - 1;
    const int gy = mul24(static_cast<int>(t.blockIdx.y), kStreamTile) + static_cast<int>(t.threadIdx.y) - 1;
    return mul24(mul24(gy, width) + gx, kDirections);
}

SW_DEVICE void streamLoadThread(const ThreadIndex& t, const float* f, float* fMem)
{
    const int width = kStreamTile * static_cast<int>(t.gridDim.x);
    const int height = kStreamTile * static_cast<int>(t.gridDim.y);
    const int tx = static_cast<int>(t.threadIdx.x);
    const int ty = static_cast<int>(t.threadIdx.y);
    const int gx = mul24(static_cast<int>(t.blockIdx.x), kStreamTile) + tx - 1;
    const int gy = mul24(static_cast<int>(t.blockIdx.y), kStreamTile) + ty - 1;
    if (gx < 0 || gx >= width || gy < 0 || gy >= height) return;  // border slot outside the grid: never read

    const float* source = f + streamSourceOffset(t);
    float* slot = fMem + (ty * kStreamTileWithBorder + tx) * kDirections;
    for (int k = 0; k < kDirections; ++k) slot[k] = source[k];
}

// Writes the nine streamed values of the cell of thread (tx, ty), tx and ty
// at most 15, to out: each pulled from the neighbour it travels from, or
// bounced back from the cell itself where that neighbour is outside the grid.
SW_DEVICE void streamPullCell(const ThreadIndex& t, const float* fMem, float* out)
{
    const int tx = static_cast<int>(t.threadIdx.x);
    const int ty = static_cast<int>(t.threadIdx.y);
    const int width = kStreamTile * static_cast<int>(t.gridDim.x);
    const int height = kStreamTile * static_cast<int>(t.gridDim.y);
    const int x = mul24(static_cast<int>(t.blockIdx.x), kStreamTile) + tx;
    const int y = mul24(static_cast<int>(t.blockIdx.y), kStreamTile) + ty;
    const bool west = x == 0;
    const bool east = x == width - 1;
    const bool south = y == 0;
    const bool north = y == height - 1;

    // Values of the neighbour at offset (a, b) from this cell.
    auto at = [&](int a, int b) { return fMem + ((ty + 1 + b) * kStreamTileWithBorder + (tx + 1 + a)) * kDirections; };
    const float* own = at(0, 0);

    out[0] = own[0];
    out[1] = west ? own[5] : at(-1, 0)[1];
    out[2] = (west || south) ? own[6] : at(-1, -1)[2];
    out[3] = south ? own[7] : at(0, -1)[3];
    out[4] = (east || south) ? own[8] : at(1, -1)[4];
    out[5] = east ? own[1] : at(1, 0)[5];
    out[6] = (east || north) ? own[2] : at(1, 1)[6];
    out[7] = north ? own[3] : at(0, 1)[7];
    out[8] = (west || north) ? own[4] : at(-1, 1)[8];
}

// Offset in fStream of the nine values of the cell of thread (tx, ty).
SW_DEVICE int streamTargetOffset(const ThreadIndex& t)
{
    const int width = kStreamTile * static_cast<int>(t.gridDim.x);
    const int x = mul24(static_cast<int>(t.blockIdx.x), kStreamTile) + static_cast<int>(t.threadIdx.x);
    const int y = mul24(static_cast<int>(t.blockIdx.y), kStreamTile) + static_cast<int>(t.threadIdx.y);
    return mul24(mul24(y, width) + x, kDirections);
}

SW_DEVICE void streamAssembleThread(const ThreadIndex& t, const float* fMem, float* fStream)
{
    if (t.threadIdx.x >= kStreamTile || t.threadIdx.y >= kStreamTile) return;  // load-only threads
    streamPullCell(t, fMem, fStream + streamTargetOffset(t));
}
