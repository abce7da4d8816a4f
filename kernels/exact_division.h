// x / d for the constant divisors d = 3, 6, 12 and 24 without a divide
// instruction, with the bits of the IEEE division for every float x.
//
// On the GPU a division is an inline sequence that branches to a
// subroutine for its hard cases; the form below is four arithmetic
// instructions and a mask (the collision kernel's code is 13-16% shorter
// with it, for sm_75 and sm_90). The CPU kernels with AVX-512 use it too:
// there the collision waits on the divider, which takes a 16-float
// division every several cycles, and the form made it 9% faster on a Xeon.
// The other CPU sets keep the division: with AVX2 on Zen 3 the divider
// works beside the multiply-add units that bound the loop, so the form's
// extra operations cost more than the divides they replace
// (docs/performance-history.md).
#pragma once

#include "kernel_support.h"

#include <cstdint>

// RN(1/3) = (1 + 2^-25) / 3. Every divisor used is 3 * 2^k, so its rounded
// reciprocal is this one scaled exactly by 2^-k.
constexpr float kRoundedOneThird = 0x1.555556p-2f;

// The correction is rounded at this scale (2^16 and back): see below.
constexpr float kCorrectionScale = 65536.0f;
constexpr float kCorrectionUnscale = 1.0f / 65536.0f;

// x / d for d = 3 * 2^k in a multiply, a fused multiply-add, a multiply
// and a fused multiply-add, each rounded to nearest:
//
//   q = RN(x * r)                r = RN(1/d): the quotient to about an ulp
//   n = RN(q * d - x)            exact: the residual of a near quotient is
//                                a float (q and x are multiples of q's
//                                quantum, and |n| is about an ulp of x)
//   p = RN(n * r * 2^16)         the correction n/d, scaled
//   RN(q - p * 2^-16)            one rounding of nearly q - n/d = x / d
//
// Why it is exact: x / d is an integer over d times the result's quantum,
// so a quotient that is not a midpoint between floats lies at least 1/24 of
// an ulp from one (1/6 where the result is normal: x / d = (X / 3) * 2^j),
// while q - p * 2^-16 differs from it by some 2^-23 of an ulp (r is 1/d to
// a relative 2^-25, p rounded to a relative 2^-24, and |n/d| < 1 ulp).
// Among subnormal results an even d has exact midpoints (x = 9 * 2^-149,
// d = 6); there n * r is a hair above half the quantum, so a correction
// taken unrounded (fma(n, -r, q)) would break the tie the wrong way. p
// rounds it to exactly half the quantum at the scale, whatever the
// significand's precision there, and the last step then rounds the tie to
// even as the division does. The scale also keeps p's own rounding among
// subnormals far below 1/24 of the quantum, and |n * r * 2^16| stays
// below 2^119 for every finite x, so it never overflows. Zeros keep their
// sign: n is +0, and q - (+0) is q. An infinite x gives q = x and
// n = inf - inf (NaN); with p cleared there, the result is q. A NaN x gives
// a NaN q.
//
// These are arguments, not the proof: tests/arithmetic/ checks every one of
// the 2^32 floats for each divisor against the division.
template <int kDivisor, typename FusedMulAdd>
SW_DEVICE float divideByConstantWith(float x, FusedMulAdd multiplyAdd)
{
    static_assert(kDivisor == 3 || kDivisor == 6 || kDivisor == 12 || kDivisor == 24,
                  "proved for the divisors 3, 6, 12 and 24 only");
    constexpr float divisor = static_cast<float>(kDivisor);
    constexpr float reciprocal = kRoundedOneThird / static_cast<float>(kDivisor / 3);  // exact: a power of two
    constexpr float scaledReciprocal = reciprocal * kCorrectionScale;                // exact: a power of two
    const float q = mulRounded(x, reciprocal);
    const float n = multiplyAdd(q, divisor, -x);
    const float p = mulRounded(n, scaledReciprocal);
    // Where x is infinite or NaN, p is NaN and q the answer: p is cleared
    // there, on the bits, with no branch (which would also keep a compiler
    // from vectorising the exhaustive test's loop).
    const int32_t magnitude = static_cast<int32_t>(bitPatternOf(x) & 0x7FFFFFFFu);
    const uint32_t finiteX = 0u - static_cast<uint32_t>(magnitude < 0x7F800000);
    const float correction = floatWithBitPattern(bitPatternOf(p) & finiteX);
    return multiplyAdd(correction, -kCorrectionUnscale, q);
}

// The kernels' fused multiply-add as a function object.
struct KernelFusedMulAdd {
    SW_DEVICE float operator()(float a, float b, float c) const { return fusedMulAdd(a, b, c); }
};

// x / kDivisor with the bits of the division, for kDivisor 3, 6, 12 or 24.
template <int kDivisor, typename Real>
SW_DEVICE Real divideBy(Real x)
{
#if defined(__CUDA_ARCH__) || defined(__AVX512F__)
    return divideByConstantWith<kDivisor>(x, KernelFusedMulAdd{});
#else
    return x / static_cast<float>(kDivisor);
#endif
}
