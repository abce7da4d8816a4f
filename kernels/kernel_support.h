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

#include <cstdint>

#include <cmath>

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

// Cell of a thread of the one-dimensional kernels: blockIdx.x * blockDim.x +
// threadIdx.x with the 24-bit multiply.
SW_DEVICE int cellIndex1D(const ThreadIndex& t)
{
    return mul24(static_cast<int>(t.blockIdx.x), static_cast<int>(t.blockDim.x)) + static_cast<int>(t.threadIdx.x);
}

// a * b + c with one rounding.
SW_DEVICE float fusedMulAdd(float a, float b, float c)
{
#if defined(__CUDA_ARCH__)
    return __fmaf_rn(a, b, c);
#else
    return std::fma(a, b, c);
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
