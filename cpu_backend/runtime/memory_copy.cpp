#include "memory_copy.h"

#include <cstdint>
#include <algorithm>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define SW_HAS_STREAMING_STORES 1
#endif

namespace cpu_runtime {

void copyBypassingCache(void* dst, const void* src, size_t count)
{
    auto* target = static_cast<char*>(dst);
    const auto* source = static_cast<const char*>(src);
#if defined(SW_HAS_STREAMING_STORES)
    // Up to the first 16-byte boundary of the target, and its last partial
    // 16 bytes, through the cache; everything between in streaming stores.
    const size_t head = std::min(count, (16 - reinterpret_cast<uintptr_t>(target) % 16) % 16);
    std::memcpy(target, source, head);
    target += head;
    source += head;
    count -= head;
    const size_t body = count - count % 16;
    for (size_t i = 0; i < body; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i)));
    target += body;
    source += body;
    count -= body;
#endif
    std::memcpy(target, source, count);
}

void finishCopiesBypassingCache()
{
#if defined(SW_HAS_STREAMING_STORES)
    _mm_sfence();
#endif
}

}  // namespace cpu_runtime
