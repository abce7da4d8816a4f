// Moves cells' nine values between cell-major order (value k of cell c at
// 9 c + k, as the distributions are stored) and direction-major rows (row k
// holds every cell's value k), in which the CPU collides many cells at once.
// A pure permutation of floats: nothing is computed.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include "kernel_set.h"
#include "kernels/device_constants.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace CPU_KERNELS {

// Cells per call of the vector forms: 16 with 16-float vectors, else 8.
#if defined(__AVX512F__)
constexpr int kTransposeCells = 16;
#else
constexpr int kTransposeCells = 8;
#endif

#if defined(__AVX512F__)
// Splitting 48 floats (three vectors a, b, c) by position modulo 3 into
// three parts (part r, lane t: float 3 t + r), and merging such parts back.
// The floats of one part lie at 16 different lane indices of the inputs,
// (3 t + r) mod 16, because 3 and 16 have no common factor. So each part is
// a lane-by-lane blend of the inputs followed by one permute, and a merge is
// one permute of each part followed by blends: blends are cheaper than
// permutes, which are the scarce operation here.
struct ThreeWayTables {
    __m512i splitIndex[3];  // part r, lane t: lane (3 t + r) mod 16 of its blend
    __mmask16 splitFromB[3];
    __mmask16 splitFromC[3];
    __m512i mergeIndex[3];  // part r's lane t to lane (3 t + r) mod 16
    __mmask16 mergeFromPart1[3];  // output j, lane l: from part (16 j + l) mod 3
    __mmask16 mergeFromPart2[3];
};

inline ThreeWayTables threeWayTables()
{
    ThreeWayTables tables{};
    for (int r = 0; r < 3; ++r) {
        alignas(64) int split[16];
        alignas(64) int merge[16];
        unsigned fromB = 0;
        unsigned fromC = 0;
        for (int t = 0; t < 16; ++t) {
            const int e = 3 * t + r;
            const int lane = e % 16;
            split[t] = lane;
            merge[lane] = t;
            if (e / 16 == 1) fromB |= 1u << lane;
            if (e / 16 == 2) fromC |= 1u << lane;
        }
        tables.splitIndex[r] = _mm512_load_si512(split);
        tables.mergeIndex[r] = _mm512_load_si512(merge);
        tables.splitFromB[r] = static_cast<__mmask16>(fromB);
        tables.splitFromC[r] = static_cast<__mmask16>(fromC);
    }
    for (int j = 0; j < 3; ++j) {
        unsigned fromPart1 = 0;
        unsigned fromPart2 = 0;
        for (int lane = 0; lane < 16; ++lane) {
            const int part = (16 * j + lane) % 3;
            if (part == 1) fromPart1 |= 1u << lane;
            if (part == 2) fromPart2 |= 1u << lane;
        }
        tables.mergeFromPart1[j] = static_cast<__mmask16>(fromPart1);
        tables.mergeFromPart2[j] = static_cast<__mmask16>(fromPart2);
    }
    return tables;
}

inline const ThreeWayTables& threeWay()
{
    static const ThreeWayTables tables = threeWayTables();
    return tables;
}

// The permutes are written in their masked form with every lane selected:
// it compiles to the same instruction as the unmasked form, about which
// GCC 12 warns falsely (an undefined value inside the intrinsic).
constexpr __mmask16 kAllLanes = 0xFFFF;

inline void splitThreeWay(const ThreeWayTables& tables, __m512 a, __m512 b, __m512 c, __m512* parts)
{
    for (int r = 0; r < 3; ++r) {
        const __m512 blended =
            _mm512_mask_blend_ps(tables.splitFromC[r], _mm512_mask_blend_ps(tables.splitFromB[r], a, b), c);
        parts[r] = _mm512_maskz_permutexvar_ps(kAllLanes, tables.splitIndex[r], blended);
    }
}

inline void mergeThreeWay(const ThreeWayTables& tables, __m512 part0, __m512 part1, __m512 part2, __m512* out)
{
    const __m512 placed0 = _mm512_maskz_permutexvar_ps(kAllLanes, tables.mergeIndex[0], part0);
    const __m512 placed1 = _mm512_maskz_permutexvar_ps(kAllLanes, tables.mergeIndex[1], part1);
    const __m512 placed2 = _mm512_maskz_permutexvar_ps(kAllLanes, tables.mergeIndex[2], part2);
    for (int j = 0; j < 3; ++j)
        out[j] = _mm512_mask_blend_ps(tables.mergeFromPart2[j],
                                      _mm512_mask_blend_ps(tables.mergeFromPart1[j], placed0, placed1), placed2);
}
#elif defined(__AVX2__)
// The same split and merge for 24 floats in three eight-float vectors (3 and
// 8 have no common factor either). Blends take their lane choice as an
// immediate, so the lane masks are worked out at compile time.

// Lanes l of input `vector` holding a float 3 t + r (t from 0 to 7).
constexpr int splitLanes(int r, int vector)
{
    int lanes = 0;
    for (int t = 0; t < 8; ++t)
        if ((3 * t + r) / 8 == vector) lanes |= 1 << ((3 * t + r) % 8);
    return lanes;
}

// Lanes l of output `vector` that come from part `part`.
constexpr int mergeLanes(int vector, int part)
{
    int lanes = 0;
    for (int l = 0; l < 8; ++l)
        if ((8 * vector + l) % 3 == part) lanes |= 1 << l;
    return lanes;
}

template <int r>
__m256 splitPart8(__m256 a, __m256 b, __m256 c)
{
    const __m256 blended = _mm256_blend_ps(_mm256_blend_ps(a, b, splitLanes(r, 1)), c, splitLanes(r, 2));
    // Part lane t takes lane (3 t + r) mod 8.
    return _mm256_permutevar8x32_ps(blended, _mm256_setr_epi32(r % 8, (3 + r) % 8, (6 + r) % 8, (9 + r) % 8,
                                                               (12 + r) % 8, (15 + r) % 8, (18 + r) % 8, (21 + r) % 8));
}

inline void splitThreeWay8(__m256 a, __m256 b, __m256 c, __m256* parts)
{
    parts[0] = splitPart8<0>(a, b, c);
    parts[1] = splitPart8<1>(a, b, c);
    parts[2] = splitPart8<2>(a, b, c);
}

// Lane l of part r's placed vector: its lane t with 3 t + r = l mod 8.
template <int r>
__m256 placePart8(__m256 part)
{
    int index[8] = {};
    for (int t = 0; t < 8; ++t) index[(3 * t + r) % 8] = t;
    return _mm256_permutevar8x32_ps(
        part, _mm256_setr_epi32(index[0], index[1], index[2], index[3], index[4], index[5], index[6], index[7]));
}

template <int j>
__m256 mergeVector8(__m256 placed0, __m256 placed1, __m256 placed2)
{
    return _mm256_blend_ps(_mm256_blend_ps(placed0, placed1, mergeLanes(j, 1)), placed2, mergeLanes(j, 2));
}

inline void mergeThreeWay8(__m256 part0, __m256 part1, __m256 part2, __m256* out)
{
    const __m256 placed0 = placePart8<0>(part0);
    const __m256 placed1 = placePart8<1>(part1);
    const __m256 placed2 = placePart8<2>(part2);
    out[0] = mergeVector8<0>(placed0, placed1, placed2);
    out[1] = mergeVector8<1>(placed0, placed1, placed2);
    out[2] = mergeVector8<2>(placed0, placed1, placed2);
}
#endif

// Value k of cells 0..kTransposeCells - 1 at `cells` (cell-major) to
// rows[k * rowStride + c]. Splitting the cells' floats by position modulo 3
// twice leaves direction 3 m + r of every cell in part m of part r.
inline void cellsToRows(const float* cells, float* rows, int rowStride)
{
#if defined(__AVX512F__)
    const ThreeWayTables& tables = threeWay();
    __m512 byRemainder[3][3];  // [r][b]: floats 48 b + 3 t + r
    for (int b = 0; b < 3; ++b) {
        __m512 parts[3];
        splitThreeWay(tables, _mm512_loadu_ps(cells + 48 * b), _mm512_loadu_ps(cells + 48 * b + 16),
                      _mm512_loadu_ps(cells + 48 * b + 32), parts);
        for (int r = 0; r < 3; ++r) byRemainder[r][b] = parts[r];
    }
    for (int r = 0; r < 3; ++r) {
        __m512 directions[3];
        splitThreeWay(tables, byRemainder[r][0], byRemainder[r][1], byRemainder[r][2], directions);
        for (int m = 0; m < 3; ++m) _mm512_storeu_ps(rows + (3 * m + r) * rowStride, directions[m]);
    }
#elif defined(__AVX2__)
    __m256 byRemainder[3][3];  // [r][b]: floats 24 b + 3 t + r
    for (int b = 0; b < 3; ++b) {
        __m256 parts[3];
        splitThreeWay8(_mm256_loadu_ps(cells + 24 * b), _mm256_loadu_ps(cells + 24 * b + 8),
                       _mm256_loadu_ps(cells + 24 * b + 16), parts);
        for (int r = 0; r < 3; ++r) byRemainder[r][b] = parts[r];
    }
    for (int r = 0; r < 3; ++r) {
        __m256 directions[3];
        splitThreeWay8(byRemainder[r][0], byRemainder[r][1], byRemainder[r][2], directions);
        for (int m = 0; m < 3; ++m) _mm256_storeu_ps(rows + (3 * m + r) * rowStride, directions[m]);
    }
#else
    for (int c = 0; c < kTransposeCells; ++c)
        for (int k = 0; k < kDirections; ++k) rows[k * rowStride + c] = cells[c * kDirections + k];
#endif
}

// The inverse of cellsToRows: value k of cell c from rows[k * rowStride + c]
// to cells[9 c + k].
inline void rowsToCells(const float* rows, int rowStride, float* cells)
{
    auto direction = [&](int k) { return rows + k * rowStride; };
#if defined(__AVX512F__)
    const ThreeWayTables& tables = threeWay();
    __m512 byRemainder[3][3];  // [r][b], as in cellsToRows
    for (int r = 0; r < 3; ++r) {
        __m512 parts[3];
        mergeThreeWay(tables, _mm512_loadu_ps(direction(r)), _mm512_loadu_ps(direction(3 + r)),
                      _mm512_loadu_ps(direction(6 + r)), parts);
        for (int b = 0; b < 3; ++b) byRemainder[r][b] = parts[b];
    }
    for (int b = 0; b < 3; ++b) {
        __m512 floats[3];
        mergeThreeWay(tables, byRemainder[0][b], byRemainder[1][b], byRemainder[2][b], floats);
        for (int j = 0; j < 3; ++j) _mm512_storeu_ps(cells + 48 * b + 16 * j, floats[j]);
    }
#elif defined(__AVX2__)
    __m256 byRemainder[3][3];  // [r][b], as in cellsToRows
    for (int r = 0; r < 3; ++r) {
        __m256 parts[3];
        mergeThreeWay8(_mm256_loadu_ps(direction(r)), _mm256_loadu_ps(direction(3 + r)),
                       _mm256_loadu_ps(direction(6 + r)), parts);
        for (int b = 0; b < 3; ++b) byRemainder[r][b] = parts[b];
    }
    for (int b = 0; b < 3; ++b) {
        __m256 floats[3];
        mergeThreeWay8(byRemainder[0][b], byRemainder[1][b], byRemainder[2][b], floats);
        for (int j = 0; j < 3; ++j) _mm256_storeu_ps(cells + 24 * b + 8 * j, floats[j]);
    }
#else
    for (int c = 0; c < kTransposeCells; ++c)
        for (int k = 0; k < kDirections; ++k) cells[c * kDirections + k] = direction(k)[c];
#endif
}

}  // namespace CPU_KERNELS
