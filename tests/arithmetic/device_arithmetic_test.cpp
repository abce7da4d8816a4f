// The device's own fused multiply-add (fma.rn.f32) and negation (neg.f32),
// on whatever runs the program's PTX: a GPU, or the GPU simulator of
// scripts/gpu-sim-check. The kernels' bits rest on both. The fused
// multiply-add is held against the portable method, exact in every case
// (tests/arithmetic/fused_multiply_add_test.cpp proves it against the
// processor's instruction); negation must flip the sign bit alone, so that
// -(+0) is -0 (0 - x would give +0).
#include <cuda_runtime.h>

#include "kernels/kernel_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

// device_arithmetic_kernels.cu
void launchDeviceFusedMulAdd(const float* a, const float* b, const float* c, float* result, int count);
void launchDeviceNegate(const float* x, float* result, int count);

namespace {

// Device copies of host arrays, freed at the end of the test.
class DeviceArrays {
public:
    ~DeviceArrays()
    {
        for (float* pointer : allocations_) cudaFree(pointer);
    }
    float* upload(const std::vector<float>& host)
    {
        float* device = allocate(host.size());
        if (device != nullptr &&
            cudaMemcpy(device, host.data(), host.size() * sizeof(float), cudaMemcpyHostToDevice) != cudaSuccess) {
            ADD_FAILURE() << "copy to the device failed";
        }
        return device;
    }
    float* allocate(size_t count)
    {
        void* device = nullptr;
        if (cudaMalloc(&device, count * sizeof(float)) != cudaSuccess) {
            ADD_FAILURE() << "cudaMalloc failed";
            return nullptr;
        }
        allocations_.push_back(static_cast<float*>(device));
        return static_cast<float*>(device);
    }
    static std::vector<float> download(const float* device, size_t count)
    {
        std::vector<float> host(count);
        const cudaError_t launch = cudaDeviceSynchronize();
        EXPECT_EQ(launch, cudaSuccess) << cudaGetErrorString(launch);
        EXPECT_EQ(cudaMemcpy(host.data(), device, count * sizeof(float), cudaMemcpyDeviceToHost), cudaSuccess);
        return host;
    }

private:
    std::vector<float*> allocations_;
};

bool sameResult(float x, float y) { return (std::isnan(x) && std::isnan(y)) || bitPatternOf(x) == bitPatternOf(y); }

// Runs the device's fused multiply-add on every triple; returns how many
// differ from the exact result, reporting the first few.
int deviceFusedMulAddMismatches(const std::vector<float>& a, const std::vector<float>& b, const std::vector<float>& c)
{
    DeviceArrays arrays;
    const int count = static_cast<int>(a.size());
    float* result = arrays.allocate(a.size());
    launchDeviceFusedMulAdd(arrays.upload(a), arrays.upload(b), arrays.upload(c), result, count);
    const std::vector<float> device = DeviceArrays::download(result, a.size());
    int mismatches = 0;
    for (int i = 0; i < count; ++i) {
        const float exact = fusedMulAddPortable(a[i], b[i], c[i]);
        if (!sameResult(device[i], exact) && ++mismatches <= 5) {
            ADD_FAILURE() << std::hexfloat << a[i] << " * " << b[i] << " + " << c[i] << ": device " << device[i]
                          << ", exact " << exact;
        }
    }
    return mismatches;
}

TEST(DeviceArithmetic, FusedMultiplyAddRoundsOnce)
{
    // (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24 is a tie between two floats: the
    // addend decides, however small. Rounding the product first loses it.
    const float onePlus = 1.0f + std::ldexp(1.0f, -12);
    std::vector<float> a = {onePlus, onePlus, onePlus, 1.0f + std::ldexp(1.0f, -23), 0.1f};
    std::vector<float> b = {onePlus, onePlus, -onePlus, 1.0f - std::ldexp(1.0f, -23), 10.0f};
    std::vector<float> c = {std::ldexp(1.0f, -80), -std::ldexp(1.0f, -80), std::ldexp(1.0f, -80), -1.0f, -1.0f};
    // Random products near 1 with an addend that cancels most of them, and
    // random products with a small addend: where a double rounding shows.
    std::mt19937 generator(65536u);
    std::uniform_real_distribution<float> nearOne(0.5f, 2.0f);
    for (int i = 0; i < 65536; ++i) {
        a.push_back(nearOne(generator));
        b.push_back(nearOne(generator));
        const float product = a.back() * b.back();
        c.push_back(i % 2 == 0 ? -product : std::ldexp(nearOne(generator), -30 - static_cast<int>(generator() % 8)));
    }
    EXPECT_EQ(deviceFusedMulAddMismatches(a, b, c), 0) << "of " << a.size() << " triples";
}

TEST(DeviceArithmetic, NegationFlipsTheSignBitOfZerosInfinitiesAndSubnormals)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> values = {0.0f, -0.0f, 1.0f, -2.5f, inf, -inf, std::ldexp(1.0f, -149),
                                       -std::numeric_limits<float>::max(), 0.05f};
    DeviceArrays arrays;
    float* result = arrays.allocate(values.size());
    launchDeviceNegate(arrays.upload(values), result, static_cast<int>(values.size()));
    const std::vector<float> negated = DeviceArrays::download(result, values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(bitPatternOf(negated[i]), bitPatternOf(values[i]) ^ 0x80000000u) << "-(" << values[i] << ")";
    }
}

}  // namespace
