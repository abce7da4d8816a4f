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
// the same float of the row above, at or below, one cell to the left, in
// place or to the right. The choices are kept as selection masks (all
// bits set where taken), so that the pull's selections are one vector
// blend each, by the mask's sign, with nothing to compute first: fromAbove
// and fromBelow over the tile row and a cell on either side (index
// j + kDirections for float j), fromLeft and fromRight over the tile row.
// A float taken from neither mask of a pair comes from the row or cell
// itself.
constexpr int kBlendedFloats = kDirections + kTileRowFloats + kDirections;
struct InteriorPlaces {
    alignas(64) int32_t fromAbove[kBlendedFloats];
    alignas(64) int32_t fromBelow[kBlendedFloats];
    alignas(64) int32_t fromLeft[kTileRowFloats];
    alignas(64) int32_t fromRight[kTileRowFloats];
};

InteriorPlaces interiorPlaces(const GridStencil& stencil)
{
    auto mask = [](bool taken) { return taken ? int32_t{-1} : int32_t{0}; };
    InteriorPlaces places{};
    for (int j = 0; j < kBlendedFloats; ++j) {
        const int rowStep = stencil.rowStep[kInteriorClass][j % kDirections];
        places.fromAbove[j] = mask(rowStep < 0);
        places.fromBelow[j] = mask(rowStep > 0);
    }
    for (int j = 0; j < kTileRowFloats; ++j) {
        const int columnStep = stencil.columnStep[kInteriorClass][j % kDirections];
        places.fromLeft[j] = mask(columnStep < 0);
        places.fromRight[j] = mask(columnStep > 0);
    }
    return places;
}

// Streams the 16 cells from column x0 of an interior row, none on a wall,
// to `to` (fStream's tile row) in two selections of vector loads and
// blends: each float of the tile row and of a cell on either side from
// its row, then each float of the tile row from its column of that blend,
// stored straight to `to` with streaming stores where the set has them,
// else into a buffer copied with them.
void pullInteriorTileRow(const InteriorPlaces& places, const CellMajorRows& rows, int x0, float* to)
{
    alignas(64) float blended[kBlendedFloats];
    const size_t first = static_cast<size_t>(x0 - 1) * kDirections;
    const float* const above = rows.row[0] + first;
    const float* const at = rows.row[1] + first;
    const float* const below = rows.row[2] + first;
    for (int j = 0; j < kBlendedFloats; ++j) {
        const float fromAbove = above[j], fromAt = at[j], fromBelow = below[j];
        const float same = places.fromBelow[j] < 0 ? fromBelow : fromAt;
        blended[j] = places.fromAbove[j] < 0 ? fromAbove : same;
    }
    if (selectWithStreamingStores(to, places.fromLeft, blended, places.fromRight, blended + 2 * kDirections,
                                  blended + kDirections, kTileRowFloats))
        return;
    alignas(64) float out[kTileRowFloats];
    for (int j = 0; j < kTileRowFloats; ++j) {
        const float left = blended[j], here = blended[j + kDirections], right = blended[j + 2 * kDirections];
        const float notLeft = places.fromRight[j] < 0 ? right : here;
        out[j] = places.fromLeft[j] < 0 ? left : notLeft;
    }
    copyWithStreamingStores(to, out, sizeof out);
}

// Streams grid row y of f into fStream, meanwhile asking for the same
// cells of row y + 2 (first needed by the row after next) into the L2
// cache: the hardware's own prefetch does not fetch it soon enough.
void streamRow(const GridStencil& stencil, const InteriorPlaces& places, const float* f, float* fStream, int y)
{
    const size_t rowFloats = static_cast<size_t>(stencil.width) * kDirections;
    CellMajorRows rows{};
    for (int r = 0; r < 3; ++r)
        if (y - 1 + r >= 0 && y - 1 + r < stencil.height) rows.row[r] = f + static_cast<size_t>(y - 1 + r) * rowFloats;
    const float* const ahead = y + 2 < stencil.height ? f + static_cast<size_t>(y + 2) * rowFloats : nullptr;
    const bool interiorRow = stencil.interiorByLines && y > 0 && y < stencil.height - 1;
    for (int x0 = 0; x0 < stencil.width; x0 += kTileRowCells) {
        float* const to = fStream + static_cast<size_t>(y) * rowFloats + static_cast<size_t>(x0) * kDirections;
        if (ahead != nullptr)
            for (int at = 0; at < kTileRowFloats; at += 16) __builtin_prefetch(ahead + x0 * kDirections + at, 0, 2);
        if (interiorRow && x0 > 0 && x0 + kTileRowCells < stencil.width) {
            pullInteriorTileRow(places, rows, x0, to);
        } else {
            alignas(64) float out[kTileRowFloats];
            for (int c = 0; c < kTileRowCells; ++c)
                for (int k = 0; k < kDirections; ++k) out[c * kDirections + k] = pullValue(stencil, rows, x0 + c, y, k);
            copyWithStreamingStores(to, out, sizeof out);
        }
    }
}

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
    // Workers take runs of whole grid rows, each row whole: a row's three
    // source rows stay in the L2 cache for the rows after it, and memory is
    // read and written in long runs. (Streamed in strips of 12 tiles, so
    // that the three rows' parts stayed in the L1 cache, a row took 1.2
    // times as long on an AMD Zen 4: docs/performance.md.)
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(stencil.height), [&](size_t first, size_t end) {
        for (int y = static_cast<int>(first); y < static_cast<int>(end); ++y) streamRow(stencil, places, f, fStream, y);
        cpu_runtime::finishCopiesBypassingCache();
    });
}

}  // namespace CPU_KERNELS
