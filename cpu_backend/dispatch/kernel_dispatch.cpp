// The CPU backend's launchers of kernels/kernel_launch.h. Each checks its
// launch as the CUDA runtime does, at the call: a rejected launch is
// recorded as the last error and does nothing. An accepted one goes to the
// compiled set chosen for this processor: the step's collision, streaming
// and force decays through the launch queue, every other kernel at once,
// after whatever waits there. A launch holds the runtime's lock from
// its check to its queueing or run, so launches from several host threads
// each go in whole.
#include "instruction_set_choice.h"

#include <cuda_runtime.h>

#include "launch_queue.h"
#include "cpu_backend/runtime/launch_workers.h"
#include "kernels/device_constants.h"
#include "kernels/stream.h"

using cpu_kernels::activeKernelSet;
using cpu_kernels::cellLaunchAccess;
using cpu_kernels::kReads;
using cpu_kernels::kWrites;

namespace {

bool accept(const char* kernel, dim3 grid, dim3 block, size_t staticSharedBytes = 0)
{
    return cpu_runtime::acceptLaunch({kernel, staticSharedBytes}, grid, block);
}

}  // namespace

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kInitWaterLB", grid, block)) return;
    cpu_kernels::beforeLaunch(cellLaunchAccess(grid, block, {{h, kWrites}, {fx, kWrites}, {fy, kWrites}}));
    set.initWaterLB(grid, block, h, fx, fy);
    cpu_kernels::afterForcesCleared(fx, fy, static_cast<unsigned long long>(grid.x) * block.x);
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kCollision3", grid, block)) return;
    cpu_kernels::queueLaunch(set, cpu_kernels::CollisionLaunch{grid, block, f, fx, fy, h, fInitialized});
}

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kStream", grid, block, kStreamTileFloats * sizeof(float))) return;
    cpu_kernels::queueLaunch(set, cpu_kernels::StreamingLaunch{grid, block, f, fStream});
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kIncrementForce", grid, block)) return;
    cpu_kernels::queueLaunch(set, cpu_kernels::ForceDecayLaunch{grid, block, force});
}

void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kRainDrop", grid, block)) return;
    cpu_kernels::beforeRainDrop(grid, block, x, y, fx, fy, width, height);
    set.rainDrop(grid, block, x, y, radius, strength, fx, fy, width, height);
}

void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kHeightMapToTexture", grid, block)) return;
    cpu_kernels::beforeLaunch(cellLaunchAccess(grid, block, {{h, kReads}, {pixels, kWrites}}));
    set.heightMapToTexture(grid, block, h, pixels);
}

// The copies run what waits in the launch queue first (the runtime's memory
// access hook), so a queued collision keeps the factor it was launched with.
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
