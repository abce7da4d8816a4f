// The CPU backend's launchers of kernels/kernel_launch.h: each forwards to
// the same launcher of the compiled set chosen for this processor.
#include "instruction_set_choice.h"

using cpu_kernels::activeKernelSet;

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy)
{
    activeKernelSet().initWaterLB(grid, block, h, fx, fy);
}

void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    activeKernelSet().collision3(grid, block, f, fx, fy, h, fInitialized);
}

void launchStream(dim3 grid, dim3 block, const float* f, float* fStream)
{
    activeKernelSet().stream(grid, block, f, fStream);
}

void launchIncrementForce(dim3 grid, dim3 block, float* force)
{
    activeKernelSet().incrementForce(grid, block, force);
}

void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height)
{
    activeKernelSet().rainDrop(grid, block, x, y, radius, strength, fx, fy, width, height);
}

void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels)
{
    activeKernelSet().heightMapToTexture(grid, block, h, pixels);
}
