// The kernels of device_arithmetic_test.cpp: one thread per value, the
// device's own fused multiply-add (fma.rn.f32) and negation (neg.f32).
#include "kernels/kernel_support.h"

namespace {

__global__ void fusedMulAddKernel(const float* a, const float* b, const float* c, float* result, int count)
{
    const int i = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
    if (i < count) result[i] = fusedMulAdd(a[i], b[i], c[i]);
}

__global__ void negateKernel(const float* x, float* result, int count)
{
    const int i = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
    if (i < count) result[i] = -x[i];
}

constexpr int kBlock = 256;
unsigned blocksFor(int count) { return static_cast<unsigned>((count + kBlock - 1) / kBlock); }

}  // namespace

void launchDeviceFusedMulAdd(const float* a, const float* b, const float* c, float* result, int count)
{
    fusedMulAddKernel<<<blocksFor(count), kBlock>>>(a, b, c, result, count);
}

void launchDeviceNegate(const float* x, float* result, int count)
{
    negateKernel<<<blocksFor(count), kBlock>>>(x, result, count);
}
