// The CPU backend's streaming kernel, launched alone.
//
// Streaming only moves data: every value of fStream is one value of f. A GPU
// block stages its tile in shared memory because its threads share their
// loads; on the CPU every cell is streamed by the stencil table
// (stencil_table.h) straight from f's rows, a tile row (the 16 cells of one
// row of a streaming tile) at a time, and written to fStream with streaming
// stores (whole cache lines, never read first). Where the kernel's pull
// fits no stencil table, the launch runs it thread by thread.
#include "launch_loops.h"
#include "kernel_set.h"
#include "stencil_table.h"
#include "streaming_copy.h"
#include "kernels/stream.h"

#include <algorithm>
#include <cstdint>

namespace CPU_KERNELS {
namespace {

// In f's cell order the directions repeat every 9 floats and vectors every
// 16, so each tile row has the same pattern of directions.
constexpr int kTileRowCells = 16;
constexpr int kTileRowFloats = kTileRowCells * kDirections;
static_assert(kStreamTile == kTileRowCells, "a grid row is whole tile rows");

// The rows above, at and below a row, in f's cell order (null outside the
// grid, where no class of cell pulls from).
struct CellMajorRows {
    const float* row[3];
    float at(int r, int k, int x) const { return row[r][static_cast<size_t>(x) * kDirections + k]; }
};

// Away from the walls every direction of a cell comes from the same
// direction of a neighbour, so float j of a tile row of f's cell order is
// the same float of the row above, at or below (0, 1, 2), one cell to the
// left, in place or to the right (columnOf[j]: 0, 1, 2). rowOf covers the
// tile row and a cell on either side (rowOf[j + kDirections] for float j).
struct InteriorPlaces {
    int32_t rowOf[kDirections + kTileRowFloats + kDirections];
    int32_t columnOf[kTileRowFloats];
};

InteriorPlaces interiorPlaces(const GridStencil& stencil)
{
    InteriorPlaces places{};
    for (int j = 0; j < kDirections + kTileRowFloats + kDirections; ++j) places.rowOf[j] = stencil.rowStep[kInteriorClass][j % kDirections] + 1;
    for (int j = 0; j < kTileRowFloats; ++j) places.columnOf[j] = stencil.columnStep[kInteriorClass][j % kDirections] + 1;
    return places;
}

// Streams the 16 cells from column x0 of an interior row, none on a wall,
// in two selections that the compiler turns into vector loads and blends:
// each float of the tile row and of a cell on either side from its row,
// then each float of the tile row from its column of that blend.
void pullInteriorTileRow(const InteriorPlaces& places, const CellMajorRows& rows, int x0, float* out)
{
    alignas(64) float blended[kDirections + kTileRowFloats + kDirections];
    const size_t first = static_cast<size_t>(x0 - 1) * kDirections;
    for (int j = 0; j < kDirections + kTileRowFloats + kDirections; ++j) {
        const int row = places.rowOf[j];
        const float above = rows.row[0][first + j], at = rows.row[1][first + j], below = rows.row[2][first + j];
        blended[j] = row == 0 ? above : row == 2 ? below : at;
    }
    for (int j = 0; j < kTileRowFloats; ++j) {
        const int column = places.columnOf[j];
        const float left = blended[j], here = blended[j + kDirections], right = blended[j + 2 * kDirections];
        out[j] = column == 0 ? left : column == 2 ? right : here;
    }
}

// Streams tiles firstTile .. endTile - 1 of grid row y of f into fStream,
// meanwhile asking for the same cells of row y + 2 (first needed
// by the row after next) into the L2 cache: the hardware's own prefetch
// does not fetch it soon enough.
void streamRow(const GridStencil& stencil, const InteriorPlaces& places, const float* f, float* fStream, int y,
               int firstTile, int endTile)
{
    const size_t rowFloats = static_cast<size_t>(stencil.width) * kDirections;
    CellMajorRows rows{};
    for (int r = 0; r < 3; ++r)
        if (y - 1 + r >= 0 && y - 1 + r < stencil.height) rows.row[r] = f + static_cast<size_t>(y - 1 + r) * rowFloats;
    const float* const ahead = y + 2 < stencil.height ? f + static_cast<size_t>(y + 2) * rowFloats : nullptr;
    const bool interiorRow = stencil.interiorByLines && y > 0 && y < stencil.height - 1;
    for (int x0 = firstTile * kTileRowCells; x0 < endTile * kTileRowCells; x0 += kTileRowCells) {
        alignas(64) float out[kTileRowFloats];
        if (ahead != nullptr)
            for (int at = 0; at < kTileRowFloats; at += 16) __builtin_prefetch(ahead + x0 * kDirections + at, 0, 2);
        if (interiorRow && x0 > 0 && x0 + kTileRowCells < stencil.width) {
            pullInteriorTileRow(places, rows, x0, out);
        } else {
            for (int c = 0; c < kTileRowCells; ++c)
                for (int k = 0; k < kDirections; ++k) out[c * kDirections + k] = pullValue(stencil, rows, x0 + c, y, k);
        }
        copyWithStreamingStores(fStream + static_cast<size_t>(y) * rowFloats + static_cast<size_t>(x0) * kDirections, out,
                                sizeof out);
    }
}

// Rows are streamed in strips of this many tiles, top to bottom: the
// strip's part of the three rows a row reads (6.75 KiB each) stays in a
// 32 KiB L1 cache, so each line of f comes from memory once and is then
// read twice more from L1.
constexpr int kStripTiles = 12;

}  // namespace

void runStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    const bool tileShaped = block.x == kStreamTileWithBorder && block.y == kStreamTileWithBorder && block.z == 1;
    // The kernel forms offsets with the 24-bit multiply, exact while the
    // grid has at most 2^23 cells; larger grids run thread by thread, as do
    // all if the kernel's pull does not fit a stencil table.
    const bool exactOffsets = indicesAreExact(static_cast<unsigned long long>(grid.x) * grid.y * kStreamTile * kStreamTile);
    GridStencil stencil;
    if (!tileShaped || grid.z != 1 || !exactOffsets ||
        !prepareGridStencil(static_cast<int>(grid.x) * kStreamTile, static_cast<int>(grid.y) * kStreamTile, &stencil)) {
        forEachBlock(grid, block, [=](const ThreadIndex& blockIndex) {
            float fMem[kStreamTileFloats];
            forEachThread(blockIndex, [&](const ThreadIndex& t) { streamLoadThread(t, f, fMem); });
            // barrier
            forEachThread(blockIndex, [&](const ThreadIndex& t) { streamAssembleThread(t, fMem, fStream); });
        });
        return;
    }
    const InteriorPlaces places = interiorPlaces(stencil);
    // Workers take runs of whole grid rows, in strips.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(stencil.height), [&](size_t first, size_t end) {
        const int tiles = stencil.width / kTileRowCells;
        for (int strip = 0; strip < tiles; strip += kStripTiles)
            for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y)
                streamRow(stencil, places, f, fStream, y, strip, std::min(strip + kStripTiles, tiles));
        cpu_runtime::finishCopiesBypassingCache();
    });
}

}  // namespace CPU_KERNELS
