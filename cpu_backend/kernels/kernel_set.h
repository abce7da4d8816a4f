// Everything in this folder is compiled once per instruction set, each
// time into a namespace of its own (CPU_KERNELS, set by the build:
// cpu_kernels_baseline, cpu_kernels_avx2, ...), so that the sets' functions
// and helpers never share a symbol; it includes nothing of
// cpu_backend/dispatch/. A KernelSet holds one set's functions: the public
// launchers of kernels/kernel_launch.h, compiled once in
// cpu_backend/dispatch/, check each launch and hand it to the set chosen at
// start-up, at once or through the launch queue.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include "kernels/kernel_launch.h"

#include "step_pass.h"

// One compiled set. Each run function does the work of one launch that the
// runtime has already accepted, with kernel_launch.h's signature;
// stepPass runs a StepPass and returns false, having done nothing, where
// it cannot (the launches then run one by one); restoreCellMajor puts the
// direction-major distributions that a pass left back in the launches'
// cell order (cpu_backend/kernels/direction_major.h).
struct KernelSet {
    decltype(&::launchInitWaterLB) initWaterLB;
    decltype(&::launchCollision3) collision3;
    decltype(&::launchStream) stream;
    decltype(&::launchIncrementForce) incrementForce;
    decltype(&::launchRainDrop) rainDrop;
    decltype(&::launchHeightMapToTexture) heightMapToTexture;
    bool (*stepPass)(const StepPass& pass);
    bool (*restoreCellMajor)(float* collided, float* streamed, int width, int height);
};

#if defined(CPU_KERNELS)
namespace CPU_KERNELS {

void runInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy);
void runCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized);
void runStream(dim3 grid, dim3 block, const float* f, float* fStream);
void runIncrementForce(dim3 grid, dim3 block, float* force);
void runRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                 int height);
void runHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels);
bool runStepPass(const StepPass& pass);
bool runRestoreCellMajor(float* collided, float* streamed, int width, int height);

extern const KernelSet kernelSet;

}  // namespace CPU_KERNELS
#endif
