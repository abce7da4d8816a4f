// The CPU backend's streaming kernel, launched alone.
//
// Streaming only moves data: every value of fStream is one value of f. A GPU
// block stages its tile in shared memory because its threads share their
// loads; on the CPU that staging is one more copy of everything. So every
// cell is streamed by the stencil table (cpu_backend/frame_pass/
// stencil_table.h). A tile row of 16 cells away from the edges is put
// together from the rows above, at and below it (blended by direction),
// shifted by a cell, and written to fStream with streaming stores (whole
// cache lines, never read first). Where the kernel's pull fits no stencil
// table, the launch runs it thread by thread.
#include "launch_loops.h"
#include "kernel_set.h"
#include "cpu_backend/frame_pass/stencil_table.h"
#include "kernels/stream.h"

#include <algorithm>
#include <cstdint>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace CPU_KERNELS {
namespace {

constexpr int kSegmentCells = kStreamSegmentCells;  // one tile row
constexpr int kSegmentFloats = kSegmentCells * 9;  // 144 floats: nine 64-byte cache lines

#if defined(__AVX2__)
// Lanes of each cache line of a segment (floats 16 v .. 16 v + 15 of its
// 144) by where their values come from. A float's direction is its index
// modulo 9 in f and in fStream alike, so both masks serve either array:
// rowLanes[v][rowStep + 1] marks the lanes whose direction comes from that
// row, columnLanes[v][columnStep + 1] those that come from that column. The
// same for eight-float vectors (floats 8 w .. 8 w + 7), as blend masks:
// every bit of a lane set where it is marked.
struct NeighbourLanes {
    uint16_t rowLanes[kSegmentFloats / 16][3];
    uint16_t columnLanes[kSegmentFloats / 16][3];
    alignas(32) int32_t rowBlend[kSegmentFloats / 8][3][8];
    alignas(32) int32_t columnBlend[kSegmentFloats / 8][3][8];
};

NeighbourLanes neighbourLanes(const int (&rowStep)[9], const int (&columnStep)[9])
{
    NeighbourLanes table{};
    for (int v = 0; v < kSegmentFloats / 16; ++v)
        for (int lane = 0; lane < 16; ++lane) {
            const int k = (16 * v + lane) % 9;
            table.rowLanes[v][rowStep[k] + 1] |= static_cast<uint16_t>(1u << lane);
            table.columnLanes[v][columnStep[k] + 1] |= static_cast<uint16_t>(1u << lane);
        }
    for (int w = 0; w < kSegmentFloats / 8; ++w)
        for (int lane = 0; lane < 8; ++lane) {
            const int k = (8 * w + lane) % 9;
            table.rowBlend[w][rowStep[k] + 1][lane] = -1;
            table.columnBlend[w][columnStep[k] + 1][lane] = -1;
        }
    return table;
}

// The lane table of the interior class, made once.
const NeighbourLanes& interiorLanes(const StreamLaunch& launch)
{
    static const NeighbourLanes lanes =
        neighbourLanes(launch.rowStep[kInteriorClass], launch.columnStep[kInteriorClass]);
    return lanes;
}
#endif

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
// the L2 cache while this row is streamed. Returns false, having done
// nothing, where this set has no vector form or the rows are not aligned.
bool pullInteriorSegments(const StreamLaunch& launch, const float* const (&rowsAt)[3], float* target, int segments,
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
        const NeighbourLanes& lanes = interiorLanes(launch);
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
        return true;
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
        const NeighbourLanes& lanes = interiorLanes(launch);
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
        return true;
    }
#endif
    (void)launch, (void)rowsAt, (void)target, (void)segments, (void)ahead;
    return false;
}

// The rows y - 1, y and y + 1 of f (null outside the grid: no class of
// cell pulls from there).
CellMajorRows gridRows(const StreamLaunch& launch, int y)
{
    const size_t rowFloats = static_cast<size_t>(launch.width) * 9;
    CellMajorRows rows{};
    for (int r = 0; r < 3; ++r)
        if (y - 1 + r >= 0 && y - 1 + r < launch.height)
            rows.row[r] = launch.f + static_cast<size_t>(y - 1 + r) * rowFloats;
    return rows;
}

// Streams `count` interior segments of row y from firstSegment on: in
// vectors where the set has them, else cell by cell.
void pullInteriorRow(const StreamLaunch& launch, int y, const CellMajorRows& rows, int firstSegment, int count, int ahead)
{
    const size_t first = static_cast<size_t>(firstSegment) * kSegmentFloats;
    const float* const rowsAt[3] = {rows.row[0] + first, rows.row[1] + first, rows.row[2] + first};
    if (pullInteriorSegments(launch, rowsAt, launch.fStream + static_cast<size_t>(y) * launch.width * 9 + first, count,
                             ahead))
        return;
    for (int s = firstSegment; s < firstSegment + count; ++s) streamSegment(launch, rows, y, s);
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
            for (int s = 0; s < segments; ++s) streamSegment(launch, gridRows(launch, y), y, s);
    if (!inStrips) return;

    const int top = std::max(firstRow, 1);
    const int bottom = std::min(endRow, launch.height - 1);
    for (int strip = 1; strip < segments - 1; strip += kStripSegments) {
        const int count = std::min(kStripSegments, segments - 1 - strip);
        for (int y = top; y < bottom; ++y) {
            const CellMajorRows rows = gridRows(launch, y);
            if (strip == 1) streamSegment(launch, rows, y, 0);
            // The strip's part of row y + 2, first needed by the next row,
            // is fetched while this one streams: the hardware alone does not
            // fetch it soon enough.
            const int ahead = y + 2 < launch.height ? 2 * launch.width * 9 : 0;
            pullInteriorRow(launch, y, rows, strip, count, ahead);
            if (strip + count == segments - 1) streamSegment(launch, rows, y, segments - 1);
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

}  // namespace CPU_KERNELS
