// The queue of accepted launches that may wait: a frame's collision, its
// streaming and its two force decays. A GPU runs a stream's launches later,
// in order; the CPU runtime does the same for these, so that when all four
// of one frame have been launched they run as one pass over memory
// (FrameStep). Any other use of the device runs what waits first
// (cpu_runtime::runQueuedLaunches), and anything else that cannot join the
// frame runs it one launch at a time, exactly as it would have run at once.
#pragma once

#include "kernel_set.h"

namespace cpu_kernels {

void queueCollision(const KernelSet& set, dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h,
                    bool fInitialized);
void queueStream(const KernelSet& set, dim3 grid, dim3 block, const float* f, float* fStream);
void queueIncrementForce(const KernelSet& set, dim3 grid, dim3 block, float* force);

// Runs every queued launch, as one frame step where they make one.
void runQueuedLaunches();

// Frame steps run in one pass since the process started (for the benchmark
// and tests: the launches' results are the same either way).
unsigned long long fusedFrameSteps();

}  // namespace cpu_kernels
