// Copies of small buffers to memory with streaming stores (whole cache
// lines written without being read first), a vector at a time in the
// compiled set's widest vectors.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>
#include <cstdint>

#include "kernel_set.h"

#include "cpu_backend/runtime/memory_copy.h"

#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace CPU_KERNELS {

// Copies `bytes` from `from` to `to` through the cache, in the compiled
// set's widest vectors where the size is whole vectors. Under WebAssembly,
// memcpy and memory.copy are calls, which for a chunk's few hundred bytes
// took half of a step's time; with AVX2, GCC's own inline copy moves 16
// bytes at a time, and the step pass's frame took 4% longer with it.
inline void copyVectors(void* to, const void* from, size_t bytes)
{
    [[maybe_unused]] char* const target = static_cast<char*>(to);
    [[maybe_unused]] const char* const source = static_cast<const char*>(from);
#if defined(__AVX512F__)
    if (bytes % 64 == 0) {
        for (size_t at = 0; at < bytes; at += 64) _mm512_storeu_si512(target + at, _mm512_loadu_si512(source + at));
        return;
    }
#elif defined(__AVX2__)
    if (bytes % 32 == 0) {
        for (size_t at = 0; at < bytes; at += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + at),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + at)));
        return;
    }
#elif defined(__wasm_simd128__)
    if (bytes % 16 == 0) {
        for (size_t at = 0; at < bytes; at += 16) wasm_v128_store(target + at, wasm_v128_load(source + at));
        return;
    }
#endif
    std::memcpy(to, from, bytes);
}

// Copies `bytes` from `from` to `to`, as cpu_runtime::copyBypassingCache
// does (16 bytes a store, compiled once for every processor), but in whole
// vectors where `to` and the size allow. The caller calls
// cpu_runtime::finishCopiesBypassingCache() before the copy is read.
inline void copyWithStreamingStores(void* to, const void* from, size_t bytes)
{
#if defined(__AVX512F__)
    if (reinterpret_cast<uintptr_t>(to) % 64 == 0 && bytes % 64 == 0) {
        for (size_t at = 0; at < bytes; at += 64)
            _mm512_stream_si512(reinterpret_cast<__m512i*>(static_cast<char*>(to) + at),
                                _mm512_loadu_si512(static_cast<const char*>(from) + at));
        return;
    }
#elif defined(__AVX2__)
    if (reinterpret_cast<uintptr_t>(to) % 32 == 0 && bytes % 32 == 0) {
        for (size_t at = 0; at < bytes; at += 32)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(static_cast<char*>(to) + at),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(static_cast<const char*>(from) + at)));
        return;
    }
#elif defined(__wasm_simd128__)
    // WebAssembly has no streaming stores: whole vectors through the cache.
    if (bytes % 16 == 0) {
        copyVectors(to, from, bytes);
        return;
    }
#endif
    cpu_runtime::copyBypassingCache(to, from, bytes);
}

// to[j] = takeFirst[j] < 0 ? first[j] : takeSecond[j] < 0 ? second[j] :
// otherwise[j] for j < floats, written with streaming stores as
// copyWithStreamingStores writes, where `to` and `floats` are whole vectors
// of the compiled set; false, having written nothing, where they are not
// (or the set has no such stores): the caller selects into a buffer and
// copies it. The masks' sign bits choose, as the blend instructions do.
inline bool selectWithStreamingStores(float* to, const int32_t* takeFirst, const float* first,
                                      const int32_t* takeSecond, const float* second, const float* otherwise,
                                      int floats)
{
#if defined(__AVX512F__)
    if (reinterpret_cast<uintptr_t>(to) % 64 != 0 || floats % 16 != 0) return false;
    for (int j = 0; j < floats; j += 16) {
        const __mmask16 firstLanes = _mm512_movepi32_mask(_mm512_loadu_si512(takeFirst + j));
        const __mmask16 secondLanes = _mm512_movepi32_mask(_mm512_loadu_si512(takeSecond + j));
        const __m512 notFirst = _mm512_mask_blend_ps(secondLanes, _mm512_loadu_ps(otherwise + j), _mm512_loadu_ps(second + j));
        _mm512_stream_ps(to + j, _mm512_mask_blend_ps(firstLanes, notFirst, _mm512_loadu_ps(first + j)));
    }
    return true;
#elif defined(__AVX2__)
    if (reinterpret_cast<uintptr_t>(to) % 32 != 0 || floats % 8 != 0) return false;
    for (int j = 0; j < floats; j += 8) {
        const __m256 firstLanes = _mm256_loadu_ps(reinterpret_cast<const float*>(takeFirst + j));
        const __m256 secondLanes = _mm256_loadu_ps(reinterpret_cast<const float*>(takeSecond + j));
        const __m256 notFirst = _mm256_blendv_ps(_mm256_loadu_ps(otherwise + j), _mm256_loadu_ps(second + j), secondLanes);
        _mm256_stream_ps(to + j, _mm256_blendv_ps(notFirst, _mm256_loadu_ps(first + j), firstLanes));
    }
    return true;
#else
    (void)to, (void)takeFirst, (void)first, (void)takeSecond, (void)second, (void)otherwise, (void)floats;
    return false;
#endif
}

}  // namespace CPU_KERNELS
