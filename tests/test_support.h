// Helpers shared by the tests: device read-back, bit patterns, and a fixture
// that leaves the CPU runtime's hooks as it found them.
#pragma once

#include <gtest/gtest.h>

#include <cuda_runtime.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "cpu_backend/cpu_runtime_hooks.h"

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

// Every test starts and ends with no armed failures, the default device
// list, no launch recording and no pending last error.
class CpuRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { resetHooks(); }
    void TearDown() override { resetHooks(); }

    static void resetHooks()
    {
        cpu_runtime::clearFailures();
        cpu_runtime::resetDevices();
        cpu_runtime::recordLaunches(false);
        cpu_runtime::clearRecordedLaunches();
        cudaGetLastError();
    }
};
