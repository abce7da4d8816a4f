// Launchers of the simulation's kernels, one per kernel. Each issues one
// launch with the given grid and block on the default stream, like the
// toolchain's launch syntax: a rejected launch is recorded as the runtime's
// last error and nothing is returned. The CUDA backend defines them in
// cuda_kernels.cu, the CPU backend in cpu_backend/dispatch/kernel_dispatch.cpp.
#pragma once

#include <cuda_runtime.h>

void launchInitWaterLB(dim3 grid, dim3 block, float* h, float* fx, float* fy);
void launchCollision3(dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h, bool fInitialized);
void launchStream(dim3 grid, dim3 block, const float* f, float* fStream);
void launchIncrementForce(dim3 grid, dim3 block, float* force);
void launchRainDrop(dim3 grid, dim3 block, int x, int y, float radius, float strength, float* fx, float* fy, int width,
                    int height);
void launchHeightMapToTexture(dim3 grid, dim3 block, const float* h, unsigned int* pixels);

// Writers of the settable device constants (device_constants.h), ordered
// on the default stream like the launches: every launch issued before runs
// with the old values, every later one with the new. Each returns the
// runtime's status of its copy (a failure is also the last error). Defined
// next to the launchers, where the constants' symbols are.
cudaError_t writeRelaxationFactor(float omega);
cudaError_t writeDepthRange(float blackDepth, float whiteDepth);
