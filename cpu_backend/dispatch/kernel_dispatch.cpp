// The CPU backend's launchers of kernels/kernel_launch.h. Each checks its
// launch as the CUDA runtime does, at the call: a rejected launch is
// recorded as the last error and does nothing. An accepted one goes to the
// compiled set chosen for this processor: the step's collision, streaming
// and force decays through the launch queue, every other kernel at once,
// after whatever waits there. A launch holds the runtime's lock from
// its check to its queueing or run, so launches from several host threads
// each go in whole. Beside them, the settable device constants that every
// compiled set reads, and their writers.
#include "instruction_set_choice.h"

#include <cuda_runtime.h>

#include <mutex>

#include "launch_queue.h"
#include "cpu_backend/runtime/device_symbols.h"
#include "cpu_backend/runtime/launch_workers.h"
#include "kernels/device_constants.h"
#include "kernels/stream.h"

using cpu_kernels::activeKernelSet;
using cpu_kernels::cellLaunchAccess;
using cpu_kernels::kReads;
using cpu_kernels::kWrites;

namespace {

// A launch checked as the CUDA runtime checks it, under the runtime's lock,
// which it holds until the launch is queued or has run. False when the
// launch was refused (its status is then the last error).
struct AdmittedLaunch {
    std::unique_lock<std::recursive_mutex> runtimeLock;
    const KernelSet* set;
    explicit operator bool() const { return set != nullptr; }
};

AdmittedLaunch admit(const char* kernel, dim3 grid, dim3 block, size_t staticSharedBytes = 0)
{
    AdmittedLaunch launch{cpu_runtime::lockRuntime(), nullptr};
    const KernelSet& set = activeKernelSet();
    if (cpu_runtime::acceptLaunch({kernel, staticSharedBytes}, grid, block)) launch.set = &set;
    return launch;
}

}  // namespace

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    const AdmittedLaunch launch = admit("kInitWaterLB", grid, block);
    if (!launch) return;
    cpu_kernels::beforeLaunch(cellLaunchAccess(grid, block, {{h, kWrites}, {fx, kWrites}, {fy, kWrites}}));
    launch.set->initWaterLB(grid, block, h, fx, fy);
    cpu_kernels::afterForcesCleared(fx, fy, static_cast<unsigned long long>(grid.x) * block.x);
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    const AdmittedLaunch launch = admit("kCollision3", grid, block);
    if (!launch) return;
    cpu_kernels::queueLaunch(*launch.set, cpu_kernels::CollisionLaunch{grid, block, f, fx, fy, h, fInitialized});
}

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    const AdmittedLaunch launch = admit("kStream", grid, block, kStreamTileFloats * sizeof(float));
    if (!launch) return;
    cpu_kernels::queueLaunch(*launch.set, cpu_kernels::StreamingLaunch{grid, block, f, fStream});
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    const AdmittedLaunch launch = admit("kIncrementForce", grid, block);
    if (!launch) return;
    cpu_kernels::queueLaunch(*launch.set, cpu_kernels::ForceDecayLaunch{grid, block, force});
}

void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height)
{
    const AdmittedLaunch launch = admit("kRainDrop", grid, block);
    if (!launch) return;
    cpu_kernels::beforeRainDrop(grid, block, x, y, fx, fy, width, height);
    launch.set->rainDrop(grid, block, x, y, radius, strength, fx, fy, width, height);
}

void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    const AdmittedLaunch launch = admit("kHeightMapToTexture", grid, block);
    if (!launch) return;
    cpu_kernels::beforeLaunch(cellLaunchAccess(grid, block, {{h, kReads}, {pixels, kWrites}}));
    launch.set->heightMapToTexture(grid, block, h, pixels);
}

// The settable device constants (kernels/device_constants.h): ordinary
// globals that every compiled set of kernels reads and that
// cudaMemcpyToSymbol writes once the launches issued before it have run.
// Each is registered as a device symbol, as a CUDA module's are.
float c_omega = kInitialRelaxationFactor;
float c_minHeight = kInitialBlackDepth;
float c_maxHeight = kInitialWhiteDepth;

namespace {
const cpu_runtime::DeviceSymbol relaxationFactorSymbol(&c_omega, sizeof c_omega);
const cpu_runtime::DeviceSymbol blackDepthSymbol(&c_minHeight, sizeof c_minHeight);
const cpu_runtime::DeviceSymbol whiteDepthSymbol(&c_maxHeight, sizeof c_maxHeight);
}  // namespace

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
