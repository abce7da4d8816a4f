// The division by a constant without a divide (kernels/exact_division.h)
// against the IEEE division: for each divisor, every one of the 2^32 floats
// must give the same bits (two NaNs count as equal whatever their payloads).
// The form is evaluated with the processor's fused multiply-add, the same
// correctly rounded operations as the GPU's, so this is the proof that the
// GPU's collision gets the division's bits: signed zeros, infinities,
// subnormal quotients (with their exact ties) and the largest floats
// included.
#include "kernels/exact_division.h"
#include "instruction_fma.h"
#include "tests/support/emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// 1 where the results differ: other bits, unless both are NaN. Integer
// arithmetic only, so that the loops below vectorise.
uint32_t differ(uint32_t a, uint32_t b)
{
    const uint32_t aNaN = (a & 0x7FFFFFFFu) > 0x7F800000u;
    const uint32_t bNaN = (b & 0x7FFFFFFFu) > 0x7F800000u;
    return static_cast<uint32_t>(a != b) & ~(aNaN & bNaN);
}

// The floats are checked in blocks of this many bit patterns.
constexpr uint64_t kBlock = uint64_t{1} << 22;
constexpr uint64_t kBlocks = (uint64_t{1} << 32) / kBlock;

template <int kDivisor>
SW_FMA_TARGET uint32_t mismatchesInBlock(uint64_t block)
{
    const uint32_t first = static_cast<uint32_t>(block * kBlock);
    uint32_t count = 0;
    for (uint32_t i = 0; i < kBlock; ++i) {
        const float x = floatWithBitPattern(first + i);
        const float rewritten = divideByConstantWith<kDivisor>(x, InstructionFusedMulAdd{});
        count += differ(bitPatternOf(rewritten), bitPatternOf(x / static_cast<float>(kDivisor)));
    }
    return count;
}

template <int kDivisor>
SW_FMA_TARGET float rewrittenQuotient(float x)
{
    return divideByConstantWith<kDivisor>(x, InstructionFusedMulAdd{});
}

struct Mismatches {
    uint64_t count = 0;
    std::vector<uint32_t> firstBlocks;  // blocks with a mismatch, a few
};

// Every float, spread over all cores in blocks taken in turn.
template <int kDivisor>
Mismatches checkEveryFloat()
{
    std::atomic<uint64_t> nextBlock{0};
    std::atomic<uint64_t> total{0};
    std::vector<std::thread> workers;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::vector<uint32_t>> badBlocksOf(threads);
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            uint64_t count = 0;
            for (uint64_t block; (block = nextBlock.fetch_add(1)) < kBlocks;) {
                const uint32_t inBlock = mismatchesInBlock<kDivisor>(block);
                count += inBlock;
                if (inBlock != 0 && badBlocksOf[t].size() < 4) badBlocksOf[t].push_back(static_cast<uint32_t>(block));
            }
            total += count;
        });
    }
    for (std::thread& worker : workers) worker.join();
    Mismatches result;
    result.count = total;
    for (const auto& blocks : badBlocksOf)
        result.firstBlocks.insert(result.firstBlocks.end(), blocks.begin(), blocks.end());
    std::sort(result.firstBlocks.begin(), result.firstBlocks.end());
    return result;
}

// The first few differing floats of the blocks found, for the failure
// message.
template <int kDivisor>
std::string describeMismatches(const Mismatches& mismatches)
{
    std::string text;
    int shown = 0;
    for (uint32_t block : mismatches.firstBlocks) {
        for (uint64_t i = 0; i < kBlock && shown < 8; ++i) {
            const float x = floatWithBitPattern(static_cast<uint32_t>(block * kBlock + i));
            const float rewritten = rewrittenQuotient<kDivisor>(x);
            const float divided = x / static_cast<float>(kDivisor);
            if (differ(bitPatternOf(rewritten), bitPatternOf(divided)) == 0) continue;
            char line[160];
            std::snprintf(line, sizeof line, "\n  x = %a (0x%08x): division %a, rewrite %a", static_cast<double>(x),
                          static_cast<unsigned>(bitPatternOf(x)), static_cast<double>(divided),
                          static_cast<double>(rewritten));
            text += line;
            ++shown;
        }
    }
    return text;
}

template <int kDivisor>
void expectEveryFloatExact()
{
    const Mismatches mismatches = checkEveryFloat<kDivisor>();
    EXPECT_EQ(mismatches.count, 0u) << "x / " << kDivisor << " differs for " << mismatches.count
                                    << " floats, among them:" << describeMismatches<kDivisor>(mismatches);
}

TEST(ExactDivision, EveryFloatGivesTheBitsOfTheDivision)
{
    if (!processorHasFma()) {
        GTEST_SKIP() << "this processor has no fused multiply-add instruction to evaluate the form with";
    }
    if (runsUnderEmulator()) {
        GTEST_SKIP() << "2^34 evaluations would take hours under an emulator; the native builds prove the form "
                        "(the GPU's and the AVX-512 kernels'; the other CPU kernels divide)";
    }
    expectEveryFloatExact<3>();
    expectEveryFloatExact<6>();
    expectEveryFloatExact<12>();
    expectEveryFloatExact<24>();
}

}  // namespace
