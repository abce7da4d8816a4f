// Moves cells' nine values between cell-major order (value k of cell c at
// 9 c + k, as the distributions are stored) and direction-major rows (row k
// holds every cell's value k), in which the CPU collides many cells at once.
// A pure permutation of floats: nothing is computed.
#pragma once

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

namespace cpu_kernels {

constexpr int kTransposeCells = 16;  // cells per call of the vector forms

#if defined(__AVX512F__)
// Lane tables for a permutation of 48 floats (three vectors) into three
// vectors. Each output needs one two-vector permute of the first two inputs
// and one masked permute of the third.
struct ThreeWayPermute {
    __m512i fromFirstTwo[3];
    __m512i fromThird[3];
    __mmask16 thirdLanes[3];
};

// sourceOf(j, i) is the input float (0 to 47) that lane i of output j takes.
template <typename SourceOf>
ThreeWayPermute threeWayTables(SourceOf sourceOf)
{
    ThreeWayPermute tables{};
    for (int j = 0; j < 3; ++j) {
        alignas(64) int firstTwo[16] = {};
        alignas(64) int third[16] = {};
        unsigned lanes = 0;
        for (int i = 0; i < 16; ++i) {
            const int e = sourceOf(j, i);
            if (e < 32) {
                firstTwo[i] = e;
            } else {
                third[i] = e - 32;
                lanes |= 1u << i;
            }
        }
        tables.fromFirstTwo[j] = _mm512_load_si512(firstTwo);
        tables.fromThird[j] = _mm512_load_si512(third);
        tables.thirdLanes[j] = static_cast<__mmask16>(lanes);
    }
    return tables;
}

// Splits by position modulo 3: part r, lane t is float 3 t + r.
inline ThreeWayPermute splitTables()
{
    return threeWayTables([](int r, int t) { return 3 * t + r; });
}

// The inverse: float e of the 48 (vector e / 16, lane e % 16) is lane e / 3
// of part e % 3.
inline ThreeWayPermute mergeTables()
{
    return threeWayTables([](int j, int i) {
        const int e = 16 * j + i;
        return 16 * (e % 3) + e / 3;
    });
}

inline void permuteThreeWay(const ThreeWayPermute& tables, __m512 a, __m512 b, __m512 c, __m512* out)
{
    for (int r = 0; r < 3; ++r)
        out[r] = _mm512_mask_permutexvar_ps(_mm512_permutex2var_ps(a, tables.fromFirstTwo[r], b),
                                            tables.thirdLanes[r], tables.fromThird[r], c);
}
#endif

// Value k of cells 0..15 at `cells` (cell-major) to rows[k * rowStride + c].
// Splitting the 144 floats by position modulo 3 twice leaves direction
// 3 m + r of every cell in part m of part r.
inline void cellsToRows(const float* cells, float* rows, int rowStride)
{
#if defined(__AVX512F__)
    static const ThreeWayPermute split = splitTables();
    __m512 byRemainder[3][3];  // [r][b]: floats 48 b + 3 t + r
    for (int b = 0; b < 3; ++b) {
        __m512 parts[3];
        permuteThreeWay(split, _mm512_loadu_ps(cells + 48 * b), _mm512_loadu_ps(cells + 48 * b + 16),
                        _mm512_loadu_ps(cells + 48 * b + 32), parts);
        for (int r = 0; r < 3; ++r) byRemainder[r][b] = parts[r];
    }
    for (int r = 0; r < 3; ++r) {
        __m512 directions[3];
        permuteThreeWay(split, byRemainder[r][0], byRemainder[r][1], byRemainder[r][2], directions);
        for (int m = 0; m < 3; ++m) _mm512_storeu_ps(rows + (3 * m + r) * rowStride, directions[m]);
    }
#else
    for (int c = 0; c < kTransposeCells; ++c)
        for (int k = 0; k < 9; ++k) rows[k * rowStride + c] = cells[c * 9 + k];
#endif
}

// The inverse of cellsToRows.
inline void rowsToCells(const float* rows, int rowStride, float* cells)
{
#if defined(__AVX512F__)
    static const ThreeWayPermute merge = mergeTables();
    __m512 byRemainder[3][3];  // [r][b], as in cellsToRows
    for (int r = 0; r < 3; ++r) {
        __m512 parts[3];
        permuteThreeWay(merge, _mm512_loadu_ps(rows + r * rowStride), _mm512_loadu_ps(rows + (3 + r) * rowStride),
                        _mm512_loadu_ps(rows + (6 + r) * rowStride), parts);
        for (int b = 0; b < 3; ++b) byRemainder[r][b] = parts[b];
    }
    for (int b = 0; b < 3; ++b) {
        __m512 floats[3];
        permuteThreeWay(merge, byRemainder[0][b], byRemainder[1][b], byRemainder[2][b], floats);
        for (int j = 0; j < 3; ++j) _mm512_storeu_ps(cells + 48 * b + 16 * j, floats[j]);
    }
#else
    for (int c = 0; c < kTransposeCells; ++c)
        for (int k = 0; k < 9; ++k) cells[c * 9 + k] = rows[k * rowStride + c];
#endif
}

}  // namespace cpu_kernels
