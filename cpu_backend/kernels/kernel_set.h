// The CPU kernels are compiled once per instruction set, each time into a
// namespace of its own (CPU_KERNELS, set by the build: cpu_kernels_baseline,
// cpu_kernels_avx2, ...), so that the sets' launchers and helpers never
// share a symbol. A KernelSet holds one set's launchers; the public
// launchers of kernels/kernel_launch.h forward to the set chosen at start-up
// (kernel_dispatch.cpp, instruction_set_choice.h).
#pragma once

#include "kernels/kernel_launch.h"

// One compiled set of launchers, with kernel_launch.h's signatures.
struct KernelSet {
    decltype(&::launchInitWaterLB) initWaterLB;
    decltype(&::launchCollision3) collision3;
    decltype(&::launchStream) stream;
    decltype(&::launchIncrementForce) incrementForce;
    decltype(&::launchRainDrop) rainDrop;
    decltype(&::launchHeightMapToTexture) heightMapToTexture;
};

#if defined(CPU_KERNELS)
// Inside one compiled set: its launchers (each does what kernel_launch.h
// says of the launcher of the same name) and its table of them.
namespace CPU_KERNELS {

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy);
void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized);
void launchStream(dim3 grid, dim3 block, const float* f, float* fStream);
void launchIncrementForce(dim3 grid, dim3 block, float* force);
void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height);
void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels);

extern const KernelSet kernelSet;

}  // namespace CPU_KERNELS
#endif
