// The processor's fused multiply-add instruction, to compare the kernels'
// arithmetic with in a program built for any x86-64 processor: only the
// functions marked SW_FMA_TARGET are compiled for FMA, and they may run only
// where processorHasFma(). AArch64 always has the instruction.
#pragma once

#if defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#endif

#if defined(_MSC_VER)
#define SW_FMA_TARGET
#define SW_FMA_INLINE __forceinline
#elif defined(__x86_64__) || defined(__i386__)
#define SW_FMA_TARGET __attribute__((target("fma")))
#define SW_FMA_INLINE inline __attribute__((always_inline))
#else
#define SW_FMA_TARGET
#define SW_FMA_INLINE inline
#endif

// a * b + c as a function object: the instruction once inlined into an
// SW_FMA_TARGET function (where the compiler may vectorise it), which is the
// only place to use it.
struct InstructionFusedMulAdd {
    SW_FMA_INLINE float operator()(float a, float b, float c) const
    {
#if defined(_MSC_VER)
        return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(a), _mm_set_ss(b), _mm_set_ss(c)));
#else
        return __builtin_fmaf(a, b, c);
#endif
    }
};

inline bool processorHasFma()
{
#if defined(_MSC_VER)
    int registers[4];
    __cpuid(registers, 1);
    const bool fma = (registers[2] & (1 << 12)) != 0;
    const bool osxsave = (registers[2] & (1 << 27)) != 0;
    return fma && osxsave && (_xgetbv(0) & 6) == 6;
#elif defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
#elif defined(__aarch64__)
    return true;  // FMADD is part of the AArch64 base instruction set
#else
    return false;
#endif
}
