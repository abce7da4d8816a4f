// Seeded random inputs for checking kernels: plausible values with edge
// values mixed in, so that every arithmetic path (signed zeros, tiny and
// subnormal values, huge values, infinities, NaN, the colour ramp's ends)
// is taken somewhere.
#pragma once

#include <limits>
#include <random>
#include <vector>

// Values uniform in centre +- spread, one in sixteen replaced by an edge value.
inline std::vector<float> randomValuesWithEdges(size_t count, float centre, float spread, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> offset(-spread, spread);
    const float edges[] = {0.0f, -0.0f, 1e-5f, -1e-5f, 1e-38f, std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN(), 3.0e38f, 0.0495f, 0.0505f};
    std::vector<float> values(count);
    for (float& v : values)
        v = (rng() % 16 == 0) ? edges[rng() % (sizeof(edges) / sizeof(edges[0]))] : centre + offset(rng);
    return values;
}
