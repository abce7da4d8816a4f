// What the tests of the simulation share, on either backend: device
// read-back, models that free themselves, bit-for-bit comparison with a
// diagnosable first mismatch, and a fixture that starts every test with a
// clean runtime.
#pragma once

#include <gtest/gtest.h>

#include <cuda_runtime.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "model/grid_size.h"
#include "model/device_settings.h"
#include "model/water_model.h"

inline uint32_t bitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

inline float floatFromBits(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

template <typename T>
std::vector<T> readDevice(const T* device, size_t count)
{
    std::vector<T> host(count);
    EXPECT_EQ(cudaMemcpy(host.data(), device, count * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
    return host;
}

template <typename T>
void writeDevice(T* device, const std::vector<T>& host)
{
    ASSERT_EQ(cudaMemcpy(device, host.data(), host.size() * sizeof(T), cudaMemcpyHostToDevice), cudaSuccess);
}

// Puts the backend's runtime back in its starting state between tests: no
// pending last error (and on the CPU backend its test hooks disarmed).
// Defined once per backend's test program.
void resetBackendTestState();

// Every test starts and ends with the runtime in its starting state.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override { resetBackendTestState(); }
    void TearDown() override { resetBackendTestState(); }
};

// For a test that changes the device constants' settings: writes their
// defaults back when it ends, so that the tests after it start from them.
class DefaultSettingsAfterwards {
public:
    DefaultSettingsAfterwards() = default;
    DefaultSettingsAfterwards(const DefaultSettingsAfterwards&) = delete;
    DefaultSettingsAfterwards& operator=(const DefaultSettingsAfterwards&) = delete;
    ~DefaultSettingsAfterwards()
    {
        EXPECT_TRUE(setRelaxationFactor(kDefaultRelaxation));
        EXPECT_TRUE(setDepthRange(kDefaultBlackDepth, kDefaultWhiteDepth));
    }
};

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
class ApplicationSizeModelTest : public DeviceTest {
protected:
    static void SetUpTestSuite() { model = createWaterModel(kGridWidth, kGridHeight); }
    static void TearDownTestSuite()
    {
        destroyWaterModel(model);
        model = nullptr;
    }
    void SetUp() override
    {
        DeviceTest::SetUp();
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

// Compares two fields bit for bit, except that any NaN matches any NaN:
// which NaN an operation returns is the processor's choice (x86 scalar and
// vector units differ in sign and payload, the GPU returns one canonical
// NaN). On a mismatch reports how many elements differ and where the first
// one is, as (x, y) or (x, y, k) for fields with `perCell` values per cell.
template <typename T>
::testing::AssertionResult sameBits(const std::vector<T>& actual, const std::vector<T>& expected, int width,
                                    int perCell = 1)
{
    static_assert(sizeof(T) == sizeof(uint32_t), "32-bit elements");
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << "sizes differ: " << actual.size() << " vs " << expected.size();
    }
    auto bits = [](const T& value) {
        uint32_t b;
        std::memcpy(&b, &value, sizeof(b));
        return b;
    };
    auto isNaN = [&](const T& value) { return (bits(value) & 0x7FFFFFFFu) > 0x7F800000u; };
    size_t mismatches = 0;
    size_t first = 0;
    for (size_t i = 0; i < actual.size(); ++i) {
        const bool same = bits(actual[i]) == bits(expected[i]) || (isNaN(actual[i]) && isNaN(expected[i]));
        if (!same && mismatches++ == 0) first = i;
    }
    if (mismatches == 0) return ::testing::AssertionSuccess();
    const size_t cell = first / static_cast<size_t>(perCell);
    auto failure = ::testing::AssertionFailure();
    failure << mismatches << " of " << actual.size() << " elements differ; first at x " << cell % width << ", y "
            << cell / width;
    if (perCell > 1) failure << ", k " << first % perCell;
    std::ostringstream values;  // the failure's stream does not keep std::hex
    values << std::hex << ": 0x" << bits(actual[first]) << " instead of 0x" << bits(expected[first]) << std::dec
           << " (" << actual[first] << " vs " << expected[first] << ")";
    return failure << values.str();
}
