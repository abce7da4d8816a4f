// The queue of accepted launches that may wait: a frame's collision, its
// streaming and its two force decays. A GPU runs a stream's launches later,
// in order; the CPU runtime does the same for these, so that when all four
// of one frame have been launched they run as one pass over memory
// (FrameStep). Any other use of the device runs what waits first
// (cpu_runtime::runQueuedLaunches), and anything else that cannot join the
// frame runs it one launch at a time, exactly as it would have run at once.
//
// A frame step need not write its collided values back to f, since the
// next frame's streaming overwrites f before anything reads it: the queue
// records them as owed and recovers them from the streamed array (the
// inverse streaming) only when a launch or a runtime call could observe f,
// or change the streamed array, before that.
#pragma once

#include <initializer_list>

#include "kernel_set.h"

namespace cpu_kernels {

void queueCollision(const KernelSet& set, dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h,
                    bool fInitialized);
void queueStream(const KernelSet& set, dim3 grid, dim3 block, const float* f, float* fStream);
void queueIncrementForce(const KernelSet& set, dim3 grid, dim3 block, float* force);

// Runs every queued launch, as one frame step where they make one, and
// pays every value left owed.
void runQueuedLaunches();

// The same before a launch that touches only these arrays (or anywhere):
// owed values elsewhere stay owed.
struct LaunchSpan {
    const void* begin;
    unsigned long long floats;
    bool written;
};
void runQueuedLaunchesBefore(std::initializer_list<LaunchSpan> spans, bool anywhere = false);

// Frame steps run in one pass, and owed distributions paid, since the
// process started (for the benchmark and tests: the arrays' contents are
// the same either way wherever they can be observed).
unsigned long long fusedFrameSteps();
unsigned long long owedDistributionsPaid();

}  // namespace cpu_kernels
