// What every kernel's per-thread code needs, for both compilers.
//
// Each kernel's per-thread code is written once as an inline function that
// takes the thread's coordinates explicitly. nvcc compiles it into the
// __global__ kernel (kernels/cuda_kernels.cu), which passes the hardware's
// coordinates; the host compiler compiles it into the CPU backend's launchers
// (cpu_backend/kernels/), which loop over every block and thread.
//
// Arithmetic must give the same bits on both: the kernels spell out every
// fused multiply-add, and every other operation is rounded on its own (the
// CUDA kernels are built without multiply-add contraction, the host code
// with -ffp-contract=off).
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>

#include <cmath>

#if defined(_MSC_VER) && !defined(__CUDACC__) && defined(__AVX2__)
#include <immintrin.h>
#endif
#if defined(__wasm_relaxed_simd__)
#include <wasm_simd128.h>
#endif

// Per-thread code is always inlined into its loop, so that the CPU backend
// can vectorise across threads.
#if defined(__CUDACC__)
#define SW_DEVICE __device__ __forceinline__
#elif defined(_MSC_VER)
#define SW_DEVICE __forceinline
#else
#define SW_DEVICE inline __attribute__((always_inline))
#endif

struct Index3 {
    unsigned int x, y, z;
};

// The built-in coordinates of one thread of a launch.
struct ThreadIndex {
    Index3 blockIdx;
    Index3 threadIdx;
    Index3 blockDim;
    Index3 gridDim;
};

// The device's 24-bit integer multiply: the low 24 bits of each operand read
// as a signed number, the low 32 bits of the product kept.
SW_DEVICE int mul24(int a, int b)
{
#if defined(__CUDA_ARCH__)
    return __mul24(a, b);
#else
    const int64_t a24 = static_cast<int64_t>((a & 0xFFFFFF) ^ 0x800000) - 0x800000;
    const int64_t b24 = static_cast<int64_t>((b & 0xFFFFFF) ^ 0x800000) - 0x800000;
    const uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(a24 * b24));
    return low >= 0x80000000u ? static_cast<int>(static_cast<int64_t>(low) - 0x100000000LL) : static_cast<int>(low);
#endif
}

// The 24-bit multiplies give exact indices while a launch's threads, or a
// grid's cells, number at most 2^23; past that, indices wrap.
constexpr unsigned long long kExactIndexLimit = 1ull << 23;
constexpr bool indicesAreExact(unsigned long long count)
{
    return count <= kExactIndexLimit;
}

// A float's bits and back, on either compiler.
SW_DEVICE uint32_t bitPatternOf(float value)
{
#if defined(__CUDA_ARCH__)
    return __float_as_uint(value);
#else
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
#endif
}

SW_DEVICE float floatWithBitPattern(uint32_t bits)
{
#if defined(__CUDA_ARCH__)
    return __uint_as_float(bits);
#else
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
#endif
}

// Cell of a thread of the one-dimensional kernels: blockIdx.x * blockDim.x +
// threadIdx.x with the 24-bit multiply.
SW_DEVICE int cellIndex1D(const ThreadIndex& t)
{
    return mul24(static_cast<int>(t.blockIdx.x), static_cast<int>(t.blockDim.x)) + static_cast<int>(t.threadIdx.x);
}

// Doubles with round-to-nearest and no extended precision (SSE2 arithmetic,
// as on every x86-64 compiler): the portable fused multiply-add below
// depends on it.
#if !defined(__CUDA_ARCH__) && defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0 && FLT_EVAL_METHOD != -1
#error "fusedMulAdd needs float and double arithmetic evaluated in their own precision (FLT_EVAL_METHOD 0)"
#endif

// a * b + c with one rounding, without the hardware instruction and without
// the C library's fmaf (which is not correctly rounded everywhere: mingw-w64's
// differs in about a quarter of random cases). Exact in every case:
//
// 1. p = a * b in double is exact: two 24-bit significands give at most 48
//    bits, and the exponent of any nonzero product of floats (2^-298 to
//    2^256) is within double's normal range, subnormal floats included.
// 2. s = p + c rounded to nearest in double, and e = (p + c) - s exactly by
//    the error-free TwoSum (no overflow is possible: |p + c| < 2^257).
//    Every nonzero p + c is a multiple of 2^-298, so s is a normal double.
// 3. Round to odd: where e != 0 (the sum was inexact) and s is even, s is
//    replaced by its neighbour on the side of e, which is odd; the exact sum
//    lies strictly between the two, so the result is the exact sum
//    truncated to 53 bits with the last bit forced to 1.
// 4. One rounding of that to float. Rounding to odd at 53 bits then to
//    nearest at 24 bits equals rounding the exact value to nearest at 24
//    bits, since 53 >= 24 + 2 (Boldo and Melquiond, "Emulation of FMA and
//    correctly rounded sums: proved algorithms using rounding to odd", IEEE
//    Trans. Computers 57(4), 2008): the odd last bit stands for the bits
//    lost, so a value that was not a float midpoint cannot become one, and
//    a midpoint (25 bits) is a double, never rounded in step 2. Float
//    subnormals and overflow are decided by that same final conversion,
//    whose quantum is coarser still, so they round as fmaf does.
//
// Specials: an infinite or NaN operand makes p or s infinite or NaN (and e
// NaN), and step 3 leaves a non-finite s as it is: inf - inf and 0 * inf
// give NaN, other infinities keep their sign. Zeros: p has the product's
// sign and s = p + c follows IEEE addition (+0 + -0 = +0, -0 + -0 = -0,
// x - x = +0), as fmaf's exact result does; an exact nonzero result that
// underflows keeps its sign in the conversion.
// No branches: the adjustment is a masked integer add, so the compiler can
// vectorise it with the loop around it.
SW_DEVICE float fusedMulAddPortable(float a, float b, float c)
{
    const double p = static_cast<double>(a) * static_cast<double>(b);
    const double cd = static_cast<double>(c);
    const double s = p + cd;
    const double sp = s - p;
    const double e = (p - (s - sp)) + (cd - sp);
    uint64_t sBits;
    uint64_t eBits;
    std::memcpy(&sBits, &s, sizeof s);
    std::memcpy(&eBits, &e, sizeof e);
    // +1 (away from zero) where e has the sign of s, -1 (toward zero) where
    // not; applied where s is even, finite and the sum inexact. Integer
    // arithmetic on the bits only (no comparisons, which would stop GCC from
    // vectorising the loop around).
    const uint64_t signBit = uint64_t{1} << 63;
    const uint64_t step = uint64_t{1} | (uint64_t{0} - ((sBits ^ eBits) >> 63));
    const uint64_t inexact = ((eBits & ~signBit) + (signBit - 1)) >> 63;  // e != 0 (or NaN)
    const uint64_t special = (((sBits >> 52) & 0x7FFu) + 1u) >> 11;     // s infinite or NaN
    const uint64_t adjust = inexact & ~special & ~sBits & uint64_t{1};  // ... and s even
    sBits += step & (uint64_t{0} - adjust);
    double odd;
    std::memcpy(&odd, &sBits, sizeof odd);
    return static_cast<float>(odd);
}

// a * b + c with one rounding: the hardware's fused multiply-add where the
// build has it, the exact method above otherwise.
SW_DEVICE float fusedMulAdd(float a, float b, float c)
{
#if defined(__CUDA_ARCH__)
    return __fmaf_rn(a, b, c);
#elif defined(__FMA__) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_fmaf(a, b, c);  // one vfmadd instruction with -mfma
#elif defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
    // Every AArch64 processor has FMADD, correctly rounded as IEEE 754
    // requires; -ffp-contract=off does not stop the explicit builtin.
    return __builtin_fmaf(a, b, c);
#elif defined(_MSC_VER) && !defined(__CUDACC__) && defined(__AVX2__)
    // /arch:AVX2 implies FMA3 on MSVC, which defines no __FMA__.
    return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(a), _mm_set_ss(b), _mm_set_ss(c)));
#elif defined(__wasm_relaxed_simd__)
    // WebAssembly has no scalar fused multiply-add; relaxed SIMD's may round
    // once or twice, and the page runs this build only where a test at start
    // has found it fused (web/).
    return wasm_f32x4_extract_lane(
        wasm_f32x4_relaxed_madd(wasm_f32x4_splat(a), wasm_f32x4_splat(b), wasm_f32x4_splat(c)), 0);
#else
    return fusedMulAddPortable(a, b, c);
#endif
}

// Single-precision operations that must never be fused with a neighbour.
SW_DEVICE float mulRounded(float a, float b)
{
#if defined(__CUDA_ARCH__)
    return __fmul_rn(a, b);
#else
    return a * b;
#endif
}

SW_DEVICE float addRounded(float a, float b)
{
#if defined(__CUDA_ARCH__)
    return __fadd_rn(a, b);
#else
    return a + b;
#endif
}

SW_DEVICE float subRounded(float a, float b)
{
#if defined(__CUDA_ARCH__)
    return __fsub_rn(a, b);
#else
    return a - b;
#endif
}

SW_DEVICE float sqrtRounded(float a)
{
#if defined(__CUDA_ARCH__)
    return __fsqrt_rn(a);
#else
    return std::sqrt(a);
#endif
}
