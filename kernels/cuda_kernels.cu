// The CUDA backend's kernels: each __global__ kernel hands the hardware's
// thread coordinates to the shared per-thread code. This file is built
// without multiply-add contraction (see CMakeLists.txt) so that only the
// fused operations the kernels spell out are fused.
#include "collision.h"
#include "forcing.h"
#include "height_map.h"
#include "init_water.h"
#include "kernel_launch.h"
#include "stream.h"

namespace {

__device__ __forceinline__ ThreadIndex currentThread()
{
    return ThreadIndex{{blockIdx.x, blockIdx.y, blockIdx.z},
                       {threadIdx.x, threadIdx.y, threadIdx.z},
                       {blockDim.x, blockDim.y, blockDim.z},
                       {gridDim.x, gridDim.y, gridDim.z}};
}

}  // namespace

__global__ void kInitWaterLB(float* h, float* fx, float* fy)
{
    initWaterThread(currentThread(), h, fx, fy);
}

__global__ void kCollision3(float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    collisionThread(currentThread(), f, fx, fy, h, fInitialized);
}

__global__ void kStream(const float* f, float* fStream)
{
    __shared__ float fMem[kStreamTileFloats];
    const ThreadIndex t = currentThread();
    streamLoadThread(t, f, fMem);
    __syncthreads();
    streamAssembleThread(t, fMem, fStream);
}

__global__ void kIncrementForce(float* force)
{
    decayForceThread(currentThread(), force);
}

__global__ void kRainDrop(int x, int y, float radius, float strength, float* fx, float* fy, int width, int height)
{
    rainDropThread(currentThread(), x, y, radius, strength, fx, fy, width, height);
}

__global__ void kHeightMapToTexture(const float* h, unsigned int* pixels)
{
    heightMapThread(currentThread(), h, pixels);
}

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    kInitWaterLB<<<grid, block>>>(h, fx, fy);
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    kCollision3<<<grid, block>>>(f, fx, fy, h, fInitialized);
}

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    kStream<<<grid, block>>>(f, fStream);
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    kIncrementForce<<<grid, block>>>(force);
}

void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height)
{
    kRainDrop<<<grid, block>>>(x, y, radius, strength, fx, fy, width, height);
}

void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    kHeightMapToTexture<<<grid, block>>>(h, pixels);
}

cudaError_t writeRelaxationFactor(float omega)
{
    return cudaMemcpyToSymbol(c_omega, &omega, sizeof omega);
}

cudaError_t writeDepthRange(float blackDepth, float whiteDepth)
{
    const cudaError_t status = cudaMemcpyToSymbol(c_minHeight, &blackDepth, sizeof blackDepth);
    if (status != cudaSuccess) return status;
    return cudaMemcpyToSymbol(c_maxHeight, &whiteDepth, sizeof whiteDepth);
}
