// Reading the stencil table from the streaming kernel's per-thread code,
// and the inverse streaming that the frame pass's deferred write-back uses.
#include "stencil_table.h"

#include "cpu_backend/kernels/launch_loops.h"
#include "cpu_backend/runtime/launch_workers.h"

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
    int rowStep[9];
    int columnStep[9];
    int sourceDirection[9];
    bool regular;  // false if the kernel's pull did not follow one such pattern in every cell of the class

};

// Runs the kernel's load and pull for every block of a grid of 3 x 3 tiles
// whose f holds each float's own position, so that every streamed value
// names its source. Every class of cells occurs in that grid.
std::array<CellPull, kCellClasses> readCellPulls()
{
    constexpr unsigned kTiles = 3;
    constexpr int side = kTiles * kStreamTile;  // cells per row and per column
    std::vector<float> positions(static_cast<size_t>(side) * side * 9);
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
                float cell[9];
                streamPullCell(t, fMem.data(), cell);
                for (int k = 0; k < 9; ++k) {
                    const float source = cell[k];
                    if (!(source >= 0.0f) || source >= static_cast<float>(positions.size()) ||
                        source != std::floor(source)) {
                        pull.regular = false;  // not a position of f
                        continue;
                    }
                    const int index = static_cast<int>(source);
                    const int rowStep = index / 9 / side - y;
                    const int columnStep = index / 9 % side - x;
                    const int sourceDirection = index % 9;
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
    for (int k = 0; k < 9; ++k)
        if (pull.sourceDirection[k] != k) return false;
    return true;
}

// Whether the pulls move every value of f to exactly one place in fStream,
// so that f can be recovered from fStream. Checked on the small grid the table is read from:
// a value's one or more destinations lie within a cell of it and depend
// only on the walls within a cell of it, and every such neighbourhood of a
// grid at least 16 cells wide and high occurs in that grid.
bool movesEachValueOnce(const std::array<CellPull, kCellClasses>& pulls)
{
    constexpr int side = 3 * kStreamTile;
    std::vector<int> arrivals(static_cast<size_t>(side) * side * 9, 0);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const CellPull& pull = pulls[cellClass(x, y, side, side)];
            for (int k = 0; k < 9; ++k) {
                const int sourceX = x + pull.columnStep[k];
                const int sourceY = y + pull.rowStep[k];
                if (sourceX < 0 || sourceX >= side || sourceY < 0 || sourceY >= side) return false;
                ++arrivals[static_cast<size_t>((sourceY * side + sourceX) * 9 + pull.sourceDirection[k])];
            }
        }
    return std::all_of(arrivals.begin(), arrivals.end(), [](int count) { return count == 1; });
}

// The stencil table, read once from the kernel's own code.
struct StencilTable {
    std::array<CellPull, kCellClasses> pulls;
    bool regular;  // every class followed one pattern
    bool permutation;  // and together they move each value of f once
};

const StencilTable& stencilTable()
{
    static const StencilTable table = [] {
        StencilTable t{readCellPulls(), false, false};
        t.regular = std::all_of(t.pulls.begin(), t.pulls.end(), [](const CellPull& pull) { return pull.regular; });
        t.permutation = t.regular && movesEachValueOnce(t.pulls);
        return t;
    }();
    return table;
}

}  // namespace

bool prepareStreamLaunch(const float* f, float* fStream, int width, int height, StreamLaunch* launch)
{
    const StencilTable& table = stencilTable();
    if (!table.regular) return false;
    *launch = StreamLaunch{f, fStream, width, height, {}, {}, {}, table.permutation,
                           pullsAlongDirections(table.pulls[kInteriorClass])};
    for (int c = 0; c < kCellClasses; ++c)
        for (int k = 0; k < 9; ++k) {
            const CellPull& pull = table.pulls[c];
            launch->rowStep[c][k] = pull.rowStep[k];
            launch->columnStep[c][k] = pull.columnStep[k];
            launch->sourceDirection[c][k] = pull.sourceDirection[k];
        }
    return true;
}

bool runUnstream(const float* fStream, float* f, int width, int height)
{
    StreamLaunch launch;
    if (!prepareStreamLaunch(f, nullptr, width, height, &launch) || !launch.movesEachValueOnce) return false;
    // Each value of fStream goes back to the one place of f it was pulled
    // from. Rows are spread over the workers; two rows never send a value
    // to the same place.
    const size_t rowFloats = static_cast<size_t>(width) * 9;
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(height), [&](size_t firstRow, size_t endRow) {
        for (size_t y = firstRow; y < endRow; ++y) {
            const float* streamed = fStream + y * rowFloats;
            for (int x = 0; x < width; ++x) {
                const int cls = cellClass(x, static_cast<int>(y), width, height);
                for (int k = 0; k < 9; ++k) {
                    const size_t sourceRow = y + static_cast<size_t>(launch.rowStep[cls][k]);
                    const int sourceX = x + launch.columnStep[cls][k];
                    f[sourceRow * rowFloats + static_cast<size_t>(sourceX * 9 + launch.sourceDirection[cls][k])] =
                        streamed[x * 9 + k];
                }
            }
        }
    });
    return true;
}

}  // namespace CPU_KERNELS
