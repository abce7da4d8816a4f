// The CPU backend's streaming kernel.
//
// Streaming only moves data: every value of fStream is one value of f. A GPU
// block stages its tile in shared memory because its threads share their
// loads; on the CPU that staging is one more copy of everything. So the CPU
// runs the kernel's own per-thread code (tile loads, then each cell's pull)
// once, on a small grid whose f names each float's position: that shows,
// for each class of cell (interior, on one wall, in a corner), which value
// of which neighbour each direction takes, walls bouncing values back.
// Every cell is then streamed by its class's pull. A tile row of 16 cells
// away from the edges is put together from the rows above, at and below it
// (blended by direction), shifted by a cell, and written to fStream with
// streaming stores (whole cache lines, never read first). If the
// per-thread code ever stopped following such a pattern, the launch runs it
// thread by thread.
#include "cell_transpose.h"
#include "launch_loops.h"
#include "kernel_set.h"
#include "row_passes.h"
#include "kernels/stream.h"

#include "cpu_backend/memory_copy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace CPU_KERNELS {
namespace {

constexpr int kSegmentCells = kStreamSegmentCells;  // one tile row
constexpr int kSegmentFloats = kSegmentCells * 9;  // 144 floats: nine 64-byte cache lines

constexpr int kInteriorClass = 0;

int cellClass(int x, int y, int width, int height)
{
    const int column = x == 0 ? 1 : x == width - 1 ? 2 : 0;
    const int row = y == 0 ? 1 : y == height - 1 ? 2 : 0;
    return column + 3 * row;
}

// Where each direction of a cell of one class comes from: direction
// sourceDirection[k] of the cell rowStep[k] rows and columnStep[k] cells
// away (the cell itself, for a value that a wall bounces back).
struct CellPull {
    int rowStep[9];
    int columnStep[9];
    int sourceDirection[9];
    bool learnt;  // false if the kernel's pull did not follow one such pattern in every cell of the class

    int offset(int k, int width) const
    {
        return (rowStep[k] * width + columnStep[k]) * 9 + sourceDirection[k] - k;
    }
};

// Runs the kernel's load and pull for every block of a grid of 3 x 3 tiles
// whose f holds each float's own position, so that every streamed value
// names its source. Every class of cells occurs in that grid.
std::array<CellPull, kCellClasses> learnCellPulls()
{
    constexpr unsigned kTiles = 3;
    constexpr int side = kTiles * kStreamTile;  // cells per row and per column
    std::vector<float> positions(static_cast<size_t>(side) * side * 9);
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<float>(i);

    std::array<CellPull, kCellClasses> pulls{};
    bool seen[kCellClasses] = {};
    for (CellPull& pull : pulls) pull.learnt = true;
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
                        pull.learnt = false;  // not a position of f
                        continue;
                    }
                    const int index = static_cast<int>(source);
                    const int rowStep = index / 9 / side - y;
                    const int columnStep = index / 9 % side - x;
                    const int sourceDirection = index % 9;
                    // A neighbour at most one row and one cell away, or the cell itself.
                    if (std::abs(rowStep) > 1 || std::abs(columnStep) > 1) pull.learnt = false;
                    if (!firstOfClass && (pull.rowStep[k] != rowStep || pull.columnStep[k] != columnStep ||
                                          pull.sourceDirection[k] != sourceDirection))
                        pull.learnt = false;
                    pull.rowStep[k] = rowStep;
                    pull.columnStep[k] = columnStep;
                    pull.sourceDirection[k] = sourceDirection;
                }
            });
        }
    for (int c = 0; c < kCellClasses; ++c)
        if (!seen[c]) pulls[c].learnt = false;
    return pulls;
}

// True if every direction of an interior cell comes from the same direction
// of a neighbour: then a line of fStream is a blend of shifted lines of f.
bool pullsAlongDirections(const CellPull& pull)
{
    if (!pull.learnt) return false;
    for (int k = 0; k < 9; ++k)
        if (pull.sourceDirection[k] != k) return false;
    return true;
}

// Lanes of each cache line of a segment (floats 16 v .. 16 v + 15 of its
// 144) by where their values come from. A float's direction is its index
// modulo 9 in f and in fStream alike, so both masks serve either array:
// rowLanes[v][rowStep + 1] marks the lanes whose direction comes from that
// row, columnLanes[v][columnStep + 1] those that come from that column. The
// same for eight-float vectors (floats 8 w .. 8 w + 7), as blend masks:
// every bit of a lane set where it is marked.
}  // namespace

struct NeighbourLanes {
    uint16_t rowLanes[kSegmentFloats / 16][3];
    uint16_t columnLanes[kSegmentFloats / 16][3];
    alignas(32) int32_t rowBlend[kSegmentFloats / 8][3][8];
    alignas(32) int32_t columnBlend[kSegmentFloats / 8][3][8];
};

namespace {

NeighbourLanes neighbourLanes(const CellPull& pull)
{
    NeighbourLanes table{};
    for (int v = 0; v < kSegmentFloats / 16; ++v)
        for (int lane = 0; lane < 16; ++lane) {
            const int k = (16 * v + lane) % 9;
            table.rowLanes[v][pull.rowStep[k] + 1] |= static_cast<uint16_t>(1u << lane);
            table.columnLanes[v][pull.columnStep[k] + 1] |= static_cast<uint16_t>(1u << lane);
        }
    for (int w = 0; w < kSegmentFloats / 8; ++w)
        for (int lane = 0; lane < 8; ++lane) {
            const int k = (8 * w + lane) % 9;
            table.rowBlend[w][pull.rowStep[k] + 1][lane] = -1;
            table.columnBlend[w][pull.columnStep[k] + 1][lane] = -1;
        }
    return table;
}

#if defined(__AVX512F__)
// Floats kShift .. kShift + 15 of the 32 in low, high. (The masked form
// with every lane selected is the same instruction as the unmasked one,
// about which GCC 12 warns falsely.)
template <int kShift>
__m512 floatsFrom(__m512 low, __m512 high)
{
    return _mm512_castsi512_ps(
        _mm512_maskz_alignr_epi32(0xFFFF, _mm512_castps_si512(high), _mm512_castps_si512(low), kShift));
}
#endif

#if defined(__AVX2__)
// Whether the three source rows and the target all lie on `bytes` boundaries.
bool alignedRows(const float* const (&rows)[3], const float* target, uintptr_t bytes)
{
    return reinterpret_cast<uintptr_t>(rows[0]) % bytes == 0 && reinterpret_cast<uintptr_t>(rows[1]) % bytes == 0 &&
           reinterpret_cast<uintptr_t>(rows[2]) % bytes == 0 && reinterpret_cast<uintptr_t>(target) % bytes == 0;
}
#endif

// Streams `segments` consecutive segments of one grid row, none of whose
// cells lies on the grid's edges, into `target`: rows[r] points at the same
// column of the collided rows above (r = 0), at (1) and below (2). `ahead`
// is how far on from rows[1] the values of a later row begin, fetched into
// the L2 cache while this row is streamed.
void pullInteriorSegments(const StreamLaunch& launch, const float* const (&rowsAt)[3], float* target, int segments,
                          int ahead)
{
#if defined(__AVX512F__)
    if (alignedRows(rowsAt, target, 64)) {
        // Each value of fStream comes from one row and one column of f,
        // chosen by its direction alone. So each aligned cache line of f is
        // first blended from the lines at its place in the rows above, at
        // and below (each float taken from the row its direction comes
        // from); a line of fStream is then that blended row, shifted by a
        // cell either way in registers for the lanes that come from a
        // neighbouring column. Per line: three loads, four blends, two
        // shifts.
        const NeighbourLanes& lanes = *launch.neighbourLanes;
        const float* rows[3] = {rowsAt[0], rowsAt[1], rowsAt[2]};
        // The blended line at float 16 v of the segment (v from -1 to 9),
        // whose lanes are those of line v modulo 9.
        auto blendedLine = [&](int v) {
            const int lanesOf = (v + kSegmentFloats / 16) % (kSegmentFloats / 16);
            __m512 line = _mm512_load_ps(rows[1] + 16 * v);
            line = _mm512_mask_blend_ps(lanes.rowLanes[lanesOf][0], line, _mm512_load_ps(rows[0] + 16 * v));
            return _mm512_mask_blend_ps(lanes.rowLanes[lanesOf][2], line, _mm512_load_ps(rows[2] + 16 * v));
        };
        __m512 previous = blendedLine(-1);
        __m512 current = blendedLine(0);
        for (int s = 0; s < segments; ++s) {
#pragma GCC unroll 9
            for (int v = 0; v < kSegmentFloats / 16; ++v) {
                _mm_prefetch(reinterpret_cast<const char*>(rows[1] + 16 * v + ahead), _MM_HINT_T1);
                const __m512 next = blendedLine(v + 1);
                __m512 line = _mm512_mask_blend_ps(lanes.columnLanes[v][0], current,
                                                   floatsFrom<16 - 9>(previous, current));
                line = _mm512_mask_blend_ps(lanes.columnLanes[v][2], line, floatsFrom<9>(current, next));
                _mm512_stream_ps(target + 16 * v, line);
                previous = current;
                current = next;
            }
            for (int r = 0; r < 3; ++r) rows[r] += kSegmentFloats;
            target += kSegmentFloats;
        }
        return;
    }
#elif defined(__AVX2__)
    if (alignedRows(rowsAt, target, 32)) {
        // As above, in two steps through a buffer in the L1 cache, since
        // eight-float vectors cannot be shifted across by nine floats in
        // registers: each vector of a run of segments (with 16 floats on
        // either side, from the wall segments' cells) is blended from the
        // rows above, at and below; then each vector of fStream is blended
        // from that buffer at its own place and nine floats (one cell) to
        // either side. The masks repeat every segment (18 vectors).
        constexpr int kVectorsPerSegment = kSegmentFloats / 8;
        constexpr int kRunSegments = 8;
        alignas(32) float blended[16 + kRunSegments * kSegmentFloats + 16];
        const NeighbourLanes& lanes = *launch.neighbourLanes;
        auto mask = [](const int32_t* lanesOf) {
            return _mm256_castsi256_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(lanesOf)));
        };
        for (int done = 0; done < segments; done += kRunSegments) {
            const int count = std::min(kRunSegments, segments - done);
            const size_t runStart = static_cast<size_t>(done) * kSegmentFloats;
            const float* above = rowsAt[0] + runStart;
            const float* at = rowsAt[1] + runStart;
            const float* below = rowsAt[2] + runStart;
            float* out = target + static_cast<size_t>(done) * kSegmentFloats;
            if (ahead != 0)
                for (int w = 0; w < count * kVectorsPerSegment; w += 2)
                    _mm_prefetch(reinterpret_cast<const char*>(at + 8 * w + ahead), _MM_HINT_T1);
            // Vector w of the run, whose lanes are those of vector m of a segment.
            auto blendRows = [&](int w, int m) {
                __m256 line = _mm256_load_ps(at + 8 * w);
                line = _mm256_blendv_ps(line, _mm256_load_ps(above + 8 * w), mask(lanes.rowBlend[m][0]));
                line = _mm256_blendv_ps(line, _mm256_load_ps(below + 8 * w), mask(lanes.rowBlend[m][2]));
                _mm256_store_ps(blended + 16 + 8 * w, line);
            };
            auto pullColumns = [&](int w, int m) {
                const float* line = blended + 16 + 8 * w;
                __m256 value = _mm256_load_ps(line);
                value = _mm256_blendv_ps(value, _mm256_loadu_ps(line - 9), mask(lanes.columnBlend[m][0]));
                value = _mm256_blendv_ps(value, _mm256_loadu_ps(line + 9), mask(lanes.columnBlend[m][2]));
                _mm256_stream_ps(out + 8 * w, value);
            };
            const int vectors = count * kVectorsPerSegment;
            blendRows(-2, kVectorsPerSegment - 2);
            blendRows(-1, kVectorsPerSegment - 1);
            for (int segment = 0; segment < count; ++segment) {
#pragma GCC unroll 18
                for (int m = 0; m < kVectorsPerSegment; ++m) blendRows(segment * kVectorsPerSegment + m, m);
            }
            blendRows(vectors, 0);
            blendRows(vectors + 1, 1);
            for (int segment = 0; segment < count; ++segment) {
#pragma GCC unroll 18
                for (int m = 0; m < kVectorsPerSegment; ++m) pullColumns(segment * kVectorsPerSegment + m, m);
            }
        }
        return;
    }
#endif
    (void)ahead;
    const int* rowStep = launch.rowStep[kInteriorClass];
    const int* inRow = launch.inRowOffset[kInteriorClass];
    for (size_t at = 0; at < static_cast<size_t>(segments) * kSegmentFloats; at += kSegmentFloats) {
        float segment[kSegmentFloats];
        for (int cell = 0; cell < kSegmentFloats; cell += 9)
            for (int k = 0; k < 9; ++k) segment[cell + k] = rowsAt[rowStep[k] + 1][at + cell + k + inRow[k]];
        cpu_runtime::copyBypassingCache(target + at, segment, sizeof segment);
    }
}

// The collided rows y - 1, y and y + 1 of f (null outside the grid: no
// class of cell pulls from there).
struct SourceRows {
    const float* row[3];
};

SourceRows gridRows(const StreamLaunch& launch, int y)
{
    const size_t rowFloats = static_cast<size_t>(launch.width) * 9;
    SourceRows rows{};
    for (int r = 0; r < 3; ++r)
        if (y - 1 + r >= 0 && y - 1 + r < launch.height)
            rows.row[r] = launch.f + static_cast<size_t>(y - 1 + r) * rowFloats;
    return rows;
}

// Streams the 16 cells of grid row y from column 16 s on, each by its
// class's pull.
void streamSegment(const StreamLaunch& launch, int y, int s, const SourceRows& rows)
{
    const size_t first = static_cast<size_t>(s) * kSegmentFloats;
    float segment[kSegmentFloats];
    for (int c = 0; c < kSegmentCells; ++c) {
        const int cls = cellClass(s * kSegmentCells + c, y, launch.width, launch.height);
        for (int k = 0; k < 9; ++k)
            segment[c * 9 + k] =
                rows.row[launch.rowStep[cls][k] + 1][first + c * 9 + k + launch.inRowOffset[cls][k]];
    }
    cpu_runtime::copyBypassingCache(launch.fStream + static_cast<size_t>(y) * launch.width * 9 + first, segment,
                                    sizeof segment);
}

// Streams the interior segments 1 .. segments - 2 of row y.
void pullInteriorRow(const StreamLaunch& launch, int y, const SourceRows& rows, int firstSegment, int count, int ahead)
{
    const size_t first = static_cast<size_t>(firstSegment) * kSegmentFloats;
    const float* const rowsAt[3] = {rows.row[0] + first, rows.row[1] + first, rows.row[2] + first};
    pullInteriorSegments(launch, rowsAt, launch.fStream + static_cast<size_t>(y) * launch.width * 9 + first, count,
                         ahead);
}

// Interior rows are streamed in strips of this many segments, top to
// bottom: the strip's part of the three source rows (6.75 KiB each) and of
// the row being fetched stay in a 32 KiB L1 cache, so each line of f comes
// from memory once and is then read twice more from L1.
constexpr int kStripSegments = 12;

// Streams grid rows firstRow .. endRow - 1: rows on the top and bottom
// walls segment by segment; the others in strips, the first strip also
// taking each row's segment on the left wall and the last strip the one on
// the right wall, while their source lines are in the cache.
void streamRows(const StreamLaunch& launch, int firstRow, int endRow)
{
    const int segments = launch.width / kSegmentCells;
    const bool inStrips = launch.interiorByLines && segments >= 3;
    for (int y = firstRow; y < endRow; ++y)
        if (!inStrips || y == 0 || y == launch.height - 1)
            for (int s = 0; s < segments; ++s) streamSegment(launch, y, s, gridRows(launch, y));
    if (!inStrips) return;

    const int top = std::max(firstRow, 1);
    const int bottom = std::min(endRow, launch.height - 1);
    for (int strip = 1; strip < segments - 1; strip += kStripSegments) {
        const int count = std::min(kStripSegments, segments - 1 - strip);
        for (int y = top; y < bottom; ++y) {
            const SourceRows rows = gridRows(launch, y);
            if (strip == 1) streamSegment(launch, y, 0, rows);
            // The strip's part of row y + 2, first needed by the next row,
            // is fetched while this one streams: the hardware alone does not
            // fetch it soon enough.
            const int ahead = y + 2 < launch.height ? 2 * launch.width * 9 : 0;
            pullInteriorRow(launch, y, rows, strip, count, ahead);
            if (strip + count == segments - 1) streamSegment(launch, y, segments - 1, rows);
        }
    }
}

// Whether the pulls move every value of f to exactly one place in fStream,
// so that f can be recovered from fStream. Checked on the learning grid:
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

// The pulls learnt once from the kernel's own code.
struct LearntPulls {
    std::array<CellPull, kCellClasses> pulls;
    bool known;  // every class followed one pattern
    bool permutation;  // and together they move each value of f once
    NeighbourLanes interiorLanes;
};

const LearntPulls& learntPulls()
{
    static const LearntPulls learnt = [] {
        LearntPulls l{learnCellPulls(), false, false, {}};
        l.known = std::all_of(l.pulls.begin(), l.pulls.end(), [](const CellPull& pull) { return pull.learnt; });
        l.permutation = l.known && movesEachValueOnce(l.pulls);
        l.interiorLanes = neighbourLanes(l.pulls[kInteriorClass]);
        return l;
    }();
    return learnt;
}

// Direction k of cell x of row y, pulled by the pull of the cell's class
// from collided rows in direction-major order.
float pulledValue(const StreamLaunch& launch, const DirectionRows& rows, int x, int y, int k)
{
    const int cls = cellClass(x, y, launch.width, launch.height);
    const float* source = rows.row[launch.rowStep[cls][k] + 1];
    return source[static_cast<size_t>(launch.sourceDirection[cls][k]) * rows.stride +
                  static_cast<size_t>(x + launch.columnStep[cls][k])];
}

// Streams the 16 cells of grid row y from column 16 s on, each by its
// class's pull, from collided rows in direction-major order.
void streamSegmentFromDirections(const StreamLaunch& launch, int y, int s, const DirectionRows& rows)
{
    float segment[kSegmentFloats];
    for (int c = 0; c < kSegmentCells; ++c)
        for (int k = 0; k < 9; ++k) segment[c * 9 + k] = pulledValue(launch, rows, s * kSegmentCells + c, y, k);
    const size_t first = static_cast<size_t>(y) * launch.width + static_cast<size_t>(s) * kSegmentCells;
    cpu_runtime::copyBypassingCache(launch.fStream + first * 9, segment, sizeof segment);
}

}  // namespace

bool prepareStreamLaunch(const float* f, float* fStream, int width, int height, StreamLaunch* launch)
{
    const LearntPulls& learnt = learntPulls();
    if (!learnt.known) return false;
    *launch = StreamLaunch{f, fStream, width, height, {}, {}, {}, {}, learnt.permutation,
                           pullsAlongDirections(learnt.pulls[kInteriorClass]), &learnt.interiorLanes};
    for (int c = 0; c < kCellClasses; ++c)
        for (int k = 0; k < 9; ++k) {
            const CellPull& pull = learnt.pulls[c];
            launch->rowStep[c][k] = pull.rowStep[k];
            launch->columnStep[c][k] = pull.columnStep[k];
            launch->sourceDirection[c][k] = pull.sourceDirection[k];
            launch->inRowOffset[c][k] = pull.columnStep[k] * 9 + pull.sourceDirection[k] - k;
        }
    return true;
}

RowStreamer::RowStreamer(const StreamLaunch& launch, int y, const DirectionRows& rows)
    : launch_(launch), y_(y), rows_(rows), lastSegment_(launch.width / kSegmentCells - 1)
{
    const bool byLines = launch.interiorByLines && launch.width >= 3 * kSegmentCells && y != 0 && y != launch.height - 1;
    float* const target = launch.fStream + static_cast<size_t>(y) * launch.width * 9;
#if defined(__AVX512F__) || defined(__AVX2__)
    // The vector stores need the row on a vector's boundary.
    const bool aligned = reinterpret_cast<uintptr_t>(target) % (kTransposeCells * sizeof(float)) == 0;
#else
    const bool aligned = true;
#endif
    if (!byLines || !aligned) return;
    // Every direction of an interior cell comes from the same direction of
    // a neighbour, so each direction's values of 16 cells are one run of
    // its source row.
    target_ = target;
    for (int k = 0; k < 9; ++k)
        interiorSources_[k] = rows.row[launch.rowStep[kInteriorClass][k] + 1] + static_cast<size_t>(k) * rows.stride +
                              launch.columnStep[kInteriorClass][k];
}

void RowStreamer::streamSegments(int count)
{
    const int end = std::min(lastSegment_ + 1, next_ + count);
    for (; next_ < end; ++next_) {
        if (target_ == nullptr)
            streamSegmentFromDirections(launch_, y_, next_, rows_);
        else if (next_ == 0 || next_ == lastSegment_)
            streamEdgeSegment(next_);
        else
            pullInteriorSegment(next_);
    }
}

void RowStreamer::streamEdgeSegment(int s) const
{
    // One cell on the wall, by its class's pull; the other 15 as in the
    // interior.
    float segment[kSegmentFloats];
    const int first = s * kSegmentCells;
    for (int c = 0; c < kSegmentCells; ++c) {
        const int x = first + c;
        const bool onWall = x == 0 || x == launch_.width - 1;
        for (int k = 0; k < 9; ++k)
            segment[c * 9 + k] = onWall ? pulledValue(launch_, rows_, x, y_, k) : interiorSources_[k][x];
    }
    cpu_runtime::copyBypassingCache(target_ + static_cast<size_t>(first) * 9, segment, sizeof segment);
}

void runStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    const bool tileShaped = block.x == kStreamTileWithBorder && block.y == kStreamTileWithBorder && block.z == 1;
    // The kernel forms offsets with the 24-bit multiply, exact while the
    // grid has at most 2^23 cells; larger grids run thread by thread, as do
    // all if the kernel's pull was not learnt.
    const bool exactOffsets = static_cast<unsigned long long>(grid.x) * grid.y * kStreamTile * kStreamTile <= (1u << 23);
    StreamLaunch launch;
    if (!tileShaped || grid.z != 1 || !exactOffsets ||
        !prepareStreamLaunch(f, fStream, static_cast<int>(grid.x) * kStreamTile, static_cast<int>(grid.y) * kStreamTile,
                             &launch)) {
        forEachBlock(grid, block, [=](const ThreadIndex& blockIndex) {
            float fMem[kStreamTileFloats];
            forEachThread(blockIndex, [&](const ThreadIndex& t) { streamLoadThread(t, f, fMem); });
            // barrier
            forEachThread(blockIndex, [&](const ThreadIndex& t) { streamAssembleThread(t, fMem, fStream); });
        });
        return;
    }

    // Workers take runs of whole grid rows.
    cpu_runtime::runBlocksInParallel(static_cast<size_t>(launch.height), [&launch](size_t firstRow, size_t endRow) {
        streamRows(launch, static_cast<int>(firstRow), static_cast<int>(endRow));
        cpu_runtime::finishCopiesBypassingCache();
    });
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
                    f[sourceRow * rowFloats + static_cast<size_t>(x * 9 + k + launch.inRowOffset[cls][k])] =
                        streamed[x * 9 + k];
                }
            }
        }
    });
    return true;
}

}  // namespace CPU_KERNELS
