// The CPU backend's launchers of kernels/kernel_launch.h. Each checks its
// launch as the CUDA runtime does, at the call: a rejected launch is
// recorded as the last error and does nothing. An accepted one goes to the
// compiled set chosen for this processor: the frame's collision, streaming
// and force decays through the launch queue, every other kernel at once,
// after whatever waits in the queue. A launch holds the runtime's lock from
// its check to its queueing or run, so launches from several host threads
// each go in whole.
#include "instruction_set_choice.h"
#include "launch_queue.h"

#include "cpu_backend/launch_workers.h"
#include "kernels/stream.h"

using cpu_kernels::activeKernelSet;

namespace {

bool accept(const char* kernel, dim3 grid, dim3 block, size_t staticSharedBytes = 0)
{
    return cpu_runtime::acceptLaunch({kernel, staticSharedBytes}, grid, block);
}

// Cells of a one-dimensional kernel's launch: its threads' 24-bit indices
// stay below grid.x * block.x while that is at most 2^23.
unsigned long long cellsOf(dim3 grid, dim3 block, bool* plain)
{
    const unsigned long long cells = static_cast<unsigned long long>(grid.x) * block.x;
    *plain = cells <= (1u << 23);
    return cells;
}

}  // namespace

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kInitWaterLB", grid, block)) return;
    bool plain = false;
    const unsigned long long cells = cellsOf(grid, block, &plain);
    cpu_kernels::runQueuedLaunchesBefore({{h, cells, true}, {fx, cells, true}, {fy, cells, true}}, !plain);
    set.initWaterLB(grid, block, h, fx, fy);
    if (plain) cpu_kernels::noteForcesCleared(fx, fy, cells);
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kCollision3", grid, block)) return;
    cpu_kernels::queueCollision(set, grid, block, f, fx, fy, h, fInitialized);
}

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kStream", grid, block, kStreamTileFloats * sizeof(float))) return;
    cpu_kernels::queueStream(set, grid, block, f, fStream);
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kIncrementForce", grid, block)) return;
    cpu_kernels::queueIncrementForce(set, grid, block, force);
}

void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kRainDrop", grid, block)) return;
    // The drop writes only cells of the width x height grid, with exact
    // indices while the grid has at most 2^23 cells.
    const bool plain = width > 0 && height > 0 && static_cast<long long>(width) * height <= (1 << 23);
    const unsigned long long cells = plain ? static_cast<unsigned long long>(width) * static_cast<unsigned>(height) : 0;
    // Owed values anywhere in the two fields come due; known zeros are
    // forgotten only in the drop's square.
    cpu_kernels::runQueuedLaunchesBefore({{fx, cells, true}, {fy, cells, true}}, !plain, false);
    cpu_kernels::noteRainDropWritten(fx, fy, width, height, grid, block, x, y);
    set.rainDrop(grid, block, x, y, radius, strength, fx, fy, width, height);
}

void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const KernelSet& set = activeKernelSet();
    if (!accept("kHeightMapToTexture", grid, block)) return;
    bool plain = false;
    const unsigned long long cells = cellsOf(grid, block, &plain);
    cpu_kernels::runQueuedLaunchesBefore({{h, cells, false}, {pixels, cells, true}}, !plain);
    set.heightMapToTexture(grid, block, h, pixels);
}
