// 64-bit FNV-1a hashes of 32-bit fields, byte by byte in little-endian
// order (the order in which the fields are stored), whatever the host's
// byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

constexpr uint64_t kFnv1a64OffsetBasis = 0xCBF29CE484222325ull;
constexpr uint64_t kFnv1a64Prime = 0x100000001B3ull;

inline uint64_t fnv1a64(const uint32_t* words, size_t count, uint64_t hash = kFnv1a64OffsetBasis)
{
    for (size_t i = 0; i < count; ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (words[i] >> shift) & 0xFFu;
            hash *= kFnv1a64Prime;
        }
    }
    return hash;
}

inline uint64_t fnv1a64(const std::vector<uint32_t>& words)
{
    return fnv1a64(words.data(), words.size());
}

inline uint64_t fnv1a64(const std::vector<float>& values)
{
    static_assert(sizeof(float) == sizeof(uint32_t), "float is 32 bits");
    std::vector<uint32_t> words(values.size());
    if (!values.empty()) std::memcpy(words.data(), values.data(), values.size() * sizeof(float));
    return fnv1a64(words);
}
