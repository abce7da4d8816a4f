// fusedMulAdd and its portable method (kernels/kernel_support.h) against the
// processor's fused multiply-add instruction: hard cases (ties that a double
// rounding gets wrong, cancellation, subnormal results, overflow,
// infinities, NaN, signed zeros) and a few million random triples. Results
// must be the same bits; two NaNs count as equal whatever their payloads.
#include "kernels/kernel_support.h"
#include "instruction_fma.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The processor's instruction, compiled for FMA in this function only.
SW_FMA_TARGET float hardwareFma(float a, float b, float c)
{
    return InstructionFusedMulAdd{}(a, b, c);
}

bool sameResult(float x, float y)
{
    return (std::isnan(x) && std::isnan(y)) || bitPatternOf(x) == bitPatternOf(y);
}

std::string describe(float a, float b, float c)
{
    char text[160];
    std::snprintf(text, sizeof text, "a=%a (0x%08x) b=%a (0x%08x) c=%a (0x%08x)", static_cast<double>(a),
                  static_cast<unsigned>(bitPatternOf(a)), static_cast<double>(b), static_cast<unsigned>(bitPatternOf(b)),
                  static_cast<double>(c), static_cast<unsigned>(bitPatternOf(c)));
    return text;
}

class FusedMultiplyAdd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!processorHasFma()) {
            GTEST_SKIP() << "this processor has no fused multiply-add instruction to compare with";
        }
    }

    // Counts the triples where the portable method or fusedMulAdd differs
    // from the instruction, printing the first few.
    static int mismatches(const std::vector<float>& triples)
    {
        int count = 0;
        for (size_t i = 0; i + 2 < triples.size(); i += 3) {
            const float a = triples[i], b = triples[i + 1], c = triples[i + 2];
            const float expected = hardwareFma(a, b, c);
            const float portable = fusedMulAddPortable(a, b, c);
            const float used = fusedMulAdd(a, b, c);
            if (!sameResult(portable, expected) || !sameResult(used, expected)) {
                if (++count <= 10) {
                    ADD_FAILURE() << describe(a, b, c) << ": instruction " << std::hexfloat << expected
                                  << ", portable " << portable << ", fusedMulAdd " << used;
                }
            }
        }
        return count;
    }
};

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST_F(FusedMultiplyAdd, HardCasesMatchTheInstruction)
{
    const float tiny = std::ldexp(1.0f, -149);  // smallest subnormal
    const float onePlus = 1.0f + std::ldexp(1.0f, -12);  // squared: 1 + 2^-11 + 2^-24, a tie
    const std::vector<float> triples = {
        // A product exactly halfway between two floats: c decides, however
        // small (a double rounding of the sum would land on the tie).
        onePlus, onePlus, 0.0f,
        onePlus, onePlus, std::ldexp(1.0f, -80),
        onePlus, onePlus, -std::ldexp(1.0f, -80),
        onePlus, -onePlus, std::ldexp(1.0f, -80),
        onePlus, -onePlus, -std::ldexp(1.0f, -80),
        onePlus, onePlus, std::ldexp(1.0f, -149),
        onePlus, onePlus, -tiny,
        1.0f + std::ldexp(1.0f, -23), 1.0f + std::ldexp(1.0f, -1), std::ldexp(1.0f, -60),
        // Cancellation: the exact product minus its rounded value.
        1.0f + std::ldexp(1.0f, -23), 1.0f - std::ldexp(1.0f, -23), -1.0f,
        0.1f, 10.0f, -1.0f,
        3.0f, 1.0f / 3.0f, -1.0f,
        1.0f / 3.0f, 3.0f, -1.0f,
        -0.1f, 10.0f, 1.0f,
        16777215.0f, 16777215.0f, -281474943156225.0f,
        // Subnormal results, and ties among subnormals.
        std::ldexp(1.0f, -70), std::ldexp(1.5f, -70), 0.0f,
        std::ldexp(1.0f, -75), std::ldexp(1.0f, -75), 0.0f,
        std::ldexp(1.5f, -75), std::ldexp(1.0f, -74), 0.0f,
        std::ldexp(1.5f, -75), std::ldexp(1.0f, -74), std::ldexp(1.0f, -100),
        std::ldexp(1.5f, -75), std::ldexp(1.0f, -74), -std::ldexp(1.0f, -100),
        std::ldexp(1.25f, -75), std::ldexp(1.0f, -73), 0.0f,
        std::ldexp(1.75f, -75), std::ldexp(1.0f, -73), -0.0f,
        FLT_MIN, 0.5f, 0.0f,
        FLT_MIN, 1.0f - std::ldexp(1.0f, -24), 0.0f,
        FLT_MIN, 1.0f, -tiny,
        tiny, 0.5f, 0.0f,
        tiny, 0.5f, tiny,
        tiny, 1.5f, 0.0f,
        tiny, 2.5f, -0.0f,
        std::ldexp(1.0f, -100), std::ldexp(1.0f, -100), tiny,
        std::ldexp(1.0f, -100), -std::ldexp(1.0f, -100), tiny,
        // Results that underflow to zero keep their sign.
        std::ldexp(1.0f, -100), std::ldexp(1.0f, -100), 0.0f,
        -std::ldexp(1.0f, -100), std::ldexp(1.0f, -100), 0.0f,
        std::ldexp(1.0f, -100), std::ldexp(1.0f, -100), -0.0f,
        -std::ldexp(1.0f, -100), std::ldexp(1.0f, -100), -0.0f,
        // Overflow, and the results near it that the exact product avoids.
        FLT_MAX, 2.0f, -FLT_MAX,
        FLT_MAX, 1.0f, FLT_MAX,
        FLT_MAX, -1.0f, -FLT_MAX,
        FLT_MAX, FLT_MAX, -kInf,
        FLT_MAX, FLT_MAX, kInf,
        FLT_MAX, 1.0f + std::ldexp(1.0f, -23), 0.0f,
        FLT_MAX, 1.0f, std::ldexp(1.0f, 103),  // FLT_MAX + half an ulp: a tie, to even (infinity)
        FLT_MAX, 1.0f, std::ldexp(1.0f, 103) - std::ldexp(1.0f, 80),
        FLT_MAX, -1.0f, -std::ldexp(1.0f, 103),
        std::ldexp(1.0f, 64), std::ldexp(1.0f, 64), 0.0f,
        std::ldexp(1.0f, 127), 2.0f, -std::ldexp(1.0f, 127),
        // Infinities and NaN.
        kInf, 0.0f, 1.0f,
        0.0f, -kInf, 1.0f,
        kInf, 1.0f, -kInf,
        kInf, -1.0f, kInf,
        kInf, 2.0f, 5.0f,
        -kInf, 2.0f, 5.0f,
        1.0f, 1.0f, kInf,
        1.0f, 1.0f, -kInf,
        kInf, kInf, kInf,
        kNaN, 1.0f, 1.0f,
        1.0f, kNaN, 1.0f,
        1.0f, 1.0f, kNaN,
        kNaN, 0.0f, kInf,
        0.0f, kInf, kNaN,
        -kNaN, 2.0f, 3.0f,
        // Signed zeros.
        0.0f, -1.0f, 0.0f,
        0.0f, -1.0f, -0.0f,
        -0.0f, -1.0f, -0.0f,
        -0.0f, -0.0f, -0.0f,
        0.0f, 0.0f, -0.0f,
        -0.0f, 0.0f, -0.0f,
        -1.0f, 1.0f, 1.0f,
        1.0f, -1.0f, 1.0f,
        1.0f, 1.0f, -1.0f,
        -1.0f, -1.0f, -1.0f,
        0.5f, 4.0f, -2.0f,
        0.0f, 5.0f, 3.0f,
        -0.0f, 5.0f, -3.0f,
        tiny, tiny, -0.0f,
        -tiny, tiny, 0.0f,
        tiny, -tiny, -0.0f,
    };
    EXPECT_EQ(mismatches(triples), 0);
}

TEST_F(FusedMultiplyAdd, DoubleRoundingTrapGivesTheCorrectRounding)
{
    // Exactly 1 + 2^-11 + 2^-24 + 2^-80: the plain double sum is the tie
    // 1 + 2^-11 + 2^-24, which a second rounding sends down to even.
    const float onePlus = 1.0f + std::ldexp(1.0f, -12);
    const float expected = 1.0f + std::ldexp(1.0f, -11) + std::ldexp(1.0f, -23);
    EXPECT_EQ(bitPatternOf(fusedMulAddPortable(onePlus, onePlus, std::ldexp(1.0f, -80))), bitPatternOf(expected));
    EXPECT_EQ(bitPatternOf(fusedMulAddPortable(onePlus, onePlus, 0.0f)), bitPatternOf(1.0f + std::ldexp(1.0f, -11)));
    EXPECT_NE(bitPatternOf(static_cast<float>(static_cast<double>(onePlus) * onePlus + std::ldexp(1.0, -80))),
              bitPatternOf(expected))
        << "the naive double method should fail here, or the case tests nothing";
}

TEST_F(FusedMultiplyAdd, RandomBitPatternsMatchTheInstruction)
{
    std::mt19937 generator(20261207u);
    std::vector<float> triples(3 * 1'500'000);
    for (float& value : triples) {
        value = floatWithBitPattern(static_cast<uint32_t>(generator()));
    }
    EXPECT_EQ(mismatches(triples), 0);
}

// a and b of any exponent (subnormals included), c close to -a·b: a few of
// its low bits changed, or its exponent moved a little, so that the sum
// cancels most of the product and its low bits decide the result.
TEST_F(FusedMultiplyAdd, RandomCancellingTriplesMatchTheInstruction)
{
    std::mt19937 generator(7u);
    auto randomFloat = [&](int lowestExponent, int highestExponent) {
        std::uniform_int_distribution<int> exponent(lowestExponent, highestExponent);
        const uint32_t bits = (static_cast<uint32_t>(generator()) & 0x807FFFFFu) |
                              (static_cast<uint32_t>(exponent(generator)) << 23);
        return floatWithBitPattern(bits);
    };
    std::vector<float> triples;
    triples.reserve(3 * 2'000'000);
    for (int i = 0; i < 2'000'000; ++i) {
        const int kind = i % 4;
        // Biased exponents 0 (subnormal) to 254; products of the first kind
        // stay near 1, of the others span underflow to overflow.
        const float a = kind == 0 ? randomFloat(100, 154) : randomFloat(0, 254);
        const float b = kind == 0 ? randomFloat(100, 154) : randomFloat(0, 254);
        const float product = a * b;
        uint32_t cBits = bitPatternOf(-product);
        if (kind == 3) {
            cBits = bitPatternOf(floatWithBitPattern(static_cast<uint32_t>(generator())));  // unrelated c
        } else {
            cBits ^= static_cast<uint32_t>(generator()) & (kind == 1 ? 0xFFu : 0x3u);
            if (kind == 2 && (cBits & 0x7F800000u) != 0 && (cBits & 0x7F800000u) != 0x7F800000u) {
                cBits += (static_cast<uint32_t>(generator()) % 5u - 2u) << 23;  // exponent ±2
            }
        }
        triples.push_back(a);
        triples.push_back(b);
        triples.push_back(floatWithBitPattern(cBits));
    }
    EXPECT_EQ(mismatches(triples), 0);
}

// Needs no instruction: values that are exact whatever the method.
TEST(FusedMultiplyAddPortable, ExactCasesAndSpecials)
{
    EXPECT_EQ(fusedMulAddPortable(2.0f, 3.0f, 4.0f), 10.0f);
    EXPECT_EQ(fusedMulAddPortable(0.5f, -4.0f, 1.0f), -1.0f);
    EXPECT_EQ(bitPatternOf(fusedMulAddPortable(1.0f, -1.0f, 1.0f)), bitPatternOf(0.0f));
    EXPECT_EQ(bitPatternOf(fusedMulAddPortable(0.0f, -1.0f, -0.0f)), bitPatternOf(-0.0f));
    EXPECT_EQ(bitPatternOf(fusedMulAddPortable(0.0f, -1.0f, 0.0f)), bitPatternOf(0.0f));
    EXPECT_EQ(fusedMulAddPortable(FLT_MAX, 2.0f, -FLT_MAX), FLT_MAX);
    EXPECT_EQ(fusedMulAddPortable(FLT_MAX, 1.0f, FLT_MAX), kInf);
    EXPECT_EQ(fusedMulAddPortable(kInf, 2.0f, 5.0f), kInf);
    EXPECT_EQ(fusedMulAddPortable(1.0f, 1.0f, -kInf), -kInf);
    EXPECT_TRUE(std::isnan(fusedMulAddPortable(kInf, 0.0f, 1.0f)));
    EXPECT_TRUE(std::isnan(fusedMulAddPortable(kInf, 1.0f, -kInf)));
    EXPECT_TRUE(std::isnan(fusedMulAddPortable(kNaN, 1.0f, 1.0f)));
    // (1 + 2^-23)(1 - 2^-23) - 1 = -2^-46 exactly.
    EXPECT_EQ(fusedMulAddPortable(1.0f + std::ldexp(1.0f, -23), 1.0f - std::ldexp(1.0f, -23), -1.0f),
              -std::ldexp(1.0f, -46));
    // 2^-75 · 2^-75 = 2^-150, half the smallest subnormal: a tie, to even (0).
    EXPECT_EQ(bitPatternOf(fusedMulAddPortable(std::ldexp(1.0f, -75), std::ldexp(1.0f, -75), 0.0f)), 0u);
    // 1.5 · 2^-150 rounds up to the smallest subnormal.
    EXPECT_EQ(fusedMulAddPortable(std::ldexp(1.5f, -75), std::ldexp(1.0f, -75), 0.0f), std::ldexp(1.0f, -149));
}

}  // namespace
