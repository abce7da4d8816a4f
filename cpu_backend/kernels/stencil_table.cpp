// Reading the stencil table from the streaming kernel's per-thread code.
#include "stencil_table.h"

#include "launch_loops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace CPU_KERNELS {
namespace {

// Where each direction of a cell of one class comes from: direction
// sourceDirection[k] of the cell rowStep[k] rows and columnStep[k] cells
// away (the cell itself, for a value that a wall bounces back).
struct CellPull {
    int rowStep[kDirections];
    int columnStep[kDirections];
    int sourceDirection[kDirections];
    bool regular;  // false if the kernel's pull did not follow one such pattern in every cell of the class

};

// Runs the kernel's load and pull for every block of a grid of 3 x 3 tiles
// whose f holds each float's own position, so that every streamed value
// names its source. Every class of cells occurs in that grid.
std::array<CellPull, kCellClasses> readCellPulls()
{
    constexpr unsigned kTiles = 3;
    constexpr int side = kTiles * kStreamTile;  // cells per row and per column
    std::vector<float> positions(static_cast<size_t>(side) * side * kDirections);
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<float>(i);

    std::array<CellPull, kCellClasses> pulls{};
    bool seen[kCellClasses] = {};
    for (CellPull& pull : pulls) pull.regular = true;
    std::vector<float> fMem(kStreamTileFloats);
    for (unsigned by = 0; by < kTiles; ++by)
        for (unsigned bx = 0; bx < kTiles; ++bx) {
            const ThreadIndex block{{bx, by, 0}, {0, 0, 0}, {kStreamTileWithBorder, kStreamTileWithBorder, 1},
                                    {kTiles, kTiles, 1}};
            std::fill(fMem.begin(), fMem.end(), -1.0f);  // slots never loaded name no source
            forEachThread(block, [&](const ThreadIndex& t) { streamLoadThread(t, positions.data(), fMem.data()); });
            forEachThread(block, [&](const ThreadIndex& t) {
                if (t.threadIdx.x >= kStreamTile || t.threadIdx.y >= kStreamTile) return;
                const int x = static_cast<int>(bx) * kStreamTile + static_cast<int>(t.threadIdx.x);
                const int y = static_cast<int>(by) * kStreamTile + static_cast<int>(t.threadIdx.y);
                const int cls = cellClass(x, y, side, side);
                CellPull& pull = pulls[cls];
                const bool firstOfClass = !seen[cls];
                seen[cls] = true;
                float cell[kDirections];
                streamPullCell(t, fMem.data(), cell);
                for (int k = 0; k < kDirections; ++k) {
                    const float source = cell[k];
                    if (!(source >= 0.0f) || source >= static_cast<float>(positions.size()) ||
                        source != std::floor(source)) {
                        pull.regular = false;  // not a position of f
                        continue;
                    }
                    const int index = static_cast<int>(source);
                    const int rowStep = index / kDirections / side - y;
                    const int columnStep = index / kDirections % side - x;
                    const int sourceDirection = index % kDirections;
                    // A neighbour at most one row and one cell away, or the cell itself.
                    if (std::abs(rowStep) > 1 || std::abs(columnStep) > 1) pull.regular = false;
                    if (!firstOfClass && (pull.rowStep[k] != rowStep || pull.columnStep[k] != columnStep ||
                                          pull.sourceDirection[k] != sourceDirection))
                        pull.regular = false;
                    pull.rowStep[k] = rowStep;
                    pull.columnStep[k] = columnStep;
                    pull.sourceDirection[k] = sourceDirection;
                }
            });
        }
    for (int c = 0; c < kCellClasses; ++c)
        if (!seen[c]) pulls[c].regular = false;
    return pulls;
}

// True if every direction of an interior cell comes from the same direction
// of a neighbour: then a line of fStream is a blend of shifted lines of f.
bool pullsAlongDirections(const CellPull& pull)
{
    if (!pull.regular) return false;
    for (int k = 0; k < kDirections; ++k)
        if (pull.sourceDirection[k] != k) return false;
    return true;
}

// The stencil table, read once from the kernel's own code.
struct StencilTable {
    std::array<CellPull, kCellClasses> pulls;
    bool regular;  // every class followed one pattern
};

const StencilTable& stencilTable()
{
    static const StencilTable table = [] {
        StencilTable t{readCellPulls(), false};
        t.regular = std::all_of(t.pulls.begin(), t.pulls.end(), [](const CellPull& pull) { return pull.regular; });
        return t;
    }();
    return table;
}

}  // namespace

bool prepareGridStencil(int width, int height, GridStencil* stencil)
{
    const StencilTable& table = stencilTable();
    if (!table.regular) return false;
    *stencil = GridStencil{width, height, {}, {}, {}, pullsAlongDirections(table.pulls[kInteriorClass])};
    for (int c = 0; c < kCellClasses; ++c)
        for (int k = 0; k < kDirections; ++k) {
            const CellPull& pull = table.pulls[c];
            stencil->rowStep[c][k] = pull.rowStep[k];
            stencil->columnStep[c][k] = pull.columnStep[k];
            stencil->sourceDirection[c][k] = pull.sourceDirection[k];
        }
    return true;
}

}  // namespace CPU_KERNELS
