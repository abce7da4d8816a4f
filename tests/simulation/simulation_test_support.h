// Helpers of the simulation tests: models that free themselves, field
// read-back and bit-for-bit comparison with a diagnosable first mismatch.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/grid_size.h"
#include "model/water_model.h"
#include "tests/test_support.h"

struct WaterModelDeleter {
    void operator()(WaterModel* model) const { destroyWaterModel(model); }
};
using ModelPtr = std::unique_ptr<WaterModel, WaterModelDeleter>;

inline ModelPtr makeModel(int width, int height)
{
    return ModelPtr(createWaterModel(width, height));
}

// Tests that share one model of the application's size, created once for
// their suite (it takes 350 MB and a moment to make).
class ApplicationSizeModelTest : public CpuRuntimeTest {
protected:
    static void SetUpTestSuite() { model = createWaterModel(kGridWidth, kGridHeight); }
    static void TearDownTestSuite()
    {
        destroyWaterModel(model);
        model = nullptr;
    }
    void SetUp() override
    {
        CpuRuntimeTest::SetUp();
        ASSERT_NE(model, nullptr);
    }

    static inline WaterModel* model = nullptr;
};

inline size_t cellsOf(const WaterModel& model)
{
    return static_cast<size_t>(model.width) * static_cast<size_t>(model.height);
}

inline std::vector<float> readScalarField(const WaterModel& model, const float* field)
{
    return readDevice(field, cellsOf(model));
}

inline std::vector<float> readDistribution(const WaterModel& model, const float* field)
{
    return readDevice(field, cellsOf(model) * 9);
}

// Compares two fields bit for bit (so NaNs and signed zeros count). On a
// mismatch reports how many elements differ and where the first one is, as
// (x, y) or (x, y, k) for fields with `perCell` values per cell.
template <typename T>
::testing::AssertionResult sameBits(const std::vector<T>& actual, const std::vector<T>& expected, int width,
                                    int perCell = 1)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << "sizes differ: " << actual.size() << " vs " << expected.size();
    }
    size_t mismatches = 0;
    size_t first = 0;
    for (size_t i = 0; i < actual.size(); ++i) {
        uint32_t a;
        uint32_t b;
        static_assert(sizeof(T) == sizeof(uint32_t), "32-bit elements");
        std::memcpy(&a, &actual[i], sizeof(a));
        std::memcpy(&b, &expected[i], sizeof(b));
        if (a != b && mismatches++ == 0) first = i;
    }
    if (mismatches == 0) return ::testing::AssertionSuccess();
    const size_t cell = first / static_cast<size_t>(perCell);
    auto failure = ::testing::AssertionFailure();
    failure << mismatches << " of " << actual.size() << " elements differ; first at x " << cell % width << ", y "
            << cell / width;
    if (perCell > 1) failure << ", k " << first % perCell;
    uint32_t a;
    uint32_t b;
    std::memcpy(&a, &actual[first], sizeof(a));
    std::memcpy(&b, &expected[first], sizeof(b));
    std::ostringstream values;  // the failure's stream does not keep std::hex
    values << std::hex << ": 0x" << a << " instead of 0x" << b << std::dec << " (" << actual[first] << " vs "
           << expected[first] << ")";
    return failure << values.str();
}
