// Four cells' values in one 128-bit WebAssembly vector, with the operations
// of the per-cell code lane by lane, so that the collision's generic code
// (kernels/collision.h) runs four cells at once. Clang's vectoriser never
// forms a fused multiply-add from the scalar code, so the lanes spell it
// out: relaxed SIMD's f32x4.relaxed_madd in the `relaxed` set, which the
// page uses only after a test has shown that it rounds once, and the exact
// method in double lanes (kernels/kernel_support.h's fusedMulAddPortable,
// two lanes at a time) in the `portable` set. Every other operation is
// WebAssembly's IEEE single-precision arithmetic, rounded to nearest.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include "kernel_set.h"

#include <wasm_simd128.h>

#include <cstdint>

namespace CPU_KERNELS {

struct Lanes4 {
    v128_t v;

    Lanes4() : v(wasm_f32x4_const_splat(0.0f)) {}
    Lanes4(float x) : v(wasm_f32x4_splat(x)) {}  // a constant of the per-cell code, in every lane
    explicit Lanes4(v128_t x) : v(x) {}

    friend Lanes4 operator+(Lanes4 a, Lanes4 b) { return Lanes4(wasm_f32x4_add(a.v, b.v)); }
    friend Lanes4 operator-(Lanes4 a, Lanes4 b) { return Lanes4(wasm_f32x4_sub(a.v, b.v)); }
    friend Lanes4 operator*(Lanes4 a, Lanes4 b) { return Lanes4(wasm_f32x4_mul(a.v, b.v)); }
    friend Lanes4 operator/(Lanes4 a, Lanes4 b) { return Lanes4(wasm_f32x4_div(a.v, b.v)); }
    friend Lanes4 addRounded(Lanes4 a, Lanes4 b) { return a + b; }
    friend Lanes4 subRounded(Lanes4 a, Lanes4 b) { return a - b; }
    friend Lanes4 mulRounded(Lanes4 a, Lanes4 b) { return a * b; }
    friend Lanes4 fusedMulAdd(Lanes4 a, Lanes4 b, Lanes4 c);
};

#if defined(__wasm_relaxed_simd__)
inline Lanes4 fusedMulAdd(Lanes4 a, Lanes4 b, Lanes4 c)
{
    return Lanes4(wasm_f32x4_relaxed_madd(a.v, b.v, c.v));
}
#else
// fusedMulAddPortable on two lanes held as doubles: the exact product and
// sum, the error-free TwoSum, rounding to odd on the bits, one rounding to
// float (kernels/kernel_support.h says why each step is exact).
inline v128_t fusedMulAddTwoLanes(v128_t a, v128_t b, v128_t c)
{
    const v128_t p = wasm_f64x2_mul(a, b);
    const v128_t s = wasm_f64x2_add(p, c);
    const v128_t sp = wasm_f64x2_sub(s, p);
    const v128_t e = wasm_f64x2_add(wasm_f64x2_sub(p, wasm_f64x2_sub(s, sp)), wasm_f64x2_sub(c, sp));
    const v128_t one = wasm_i64x2_const_splat(1);
    const v128_t signBit = wasm_i64x2_const_splat(INT64_MIN);
    const v128_t step = wasm_v128_or(one, wasm_i64x2_shr(wasm_v128_xor(s, e), 63));
    const v128_t inexact = wasm_u64x2_shr(wasm_i64x2_add(wasm_v128_andnot(e, signBit), wasm_i64x2_const_splat(INT64_MAX)), 63);
    const v128_t special =
        wasm_u64x2_shr(wasm_i64x2_add(wasm_v128_and(wasm_u64x2_shr(s, 52), wasm_i64x2_const_splat(0x7FF)), one), 11);
    const v128_t adjust = wasm_v128_and(wasm_v128_andnot(wasm_v128_andnot(inexact, special), s), one);
    const v128_t odd = wasm_i64x2_add(s, wasm_v128_and(step, wasm_i64x2_neg(adjust)));
    return wasm_f32x4_demote_f64x2_zero(odd);
}

inline Lanes4 fusedMulAdd(Lanes4 a, Lanes4 b, Lanes4 c)
{
    const auto high = [](v128_t x) { return wasm_f64x2_promote_low_f32x4(wasm_i32x4_shuffle(x, x, 2, 3, 2, 3)); };
    const v128_t low = fusedMulAddTwoLanes(wasm_f64x2_promote_low_f32x4(a.v), wasm_f64x2_promote_low_f32x4(b.v),
                                           wasm_f64x2_promote_low_f32x4(c.v));
    const v128_t upper = fusedMulAddTwoLanes(high(a.v), high(b.v), high(c.v));
    return Lanes4(wasm_i32x4_shuffle(low, upper, 0, 1, 4, 5));
}
#endif

// Four consecutive cells' values of one direction, loaded and stored as
// one vector (chunk_collision.h's loadCells and storeCells for Lanes4).
inline Lanes4 loadCells(const float* at, Lanes4) { return Lanes4(wasm_v128_load(at)); }
inline void storeCells(float* at, Lanes4 x) { wasm_v128_store(at, x.v); }

}  // namespace CPU_KERNELS
