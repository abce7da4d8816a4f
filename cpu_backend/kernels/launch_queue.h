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
// pays every value left owed (before anything that may read anywhere).
void runQueuedLaunches();

// The same before a launch that touches only these arrays (or anywhere):
// owed values elsewhere stay owed. Known zeros (below) are forgotten where
// it writes, unless the caller says more precisely where.
struct LaunchSpan {
    const void* begin;
    unsigned long long floats;
    bool written;
};
void runQueuedLaunchesBefore(std::initializer_list<LaunchSpan> spans, bool anywhere = false,
                             bool forgetKnownZeros = true);

// What launches outside the queue wrote, for its map of force segments
// known to hold only +0.0 (runQueuedLaunchesBefore forgets those where a
// launch writes): kInitWaterLB cleared both force fields of `cells` cells;
// a rain drop's launch wrote within its square of threads around (x, y).
void noteForcesCleared(const float* fx, const float* fy, unsigned long long cells);
void noteRainDropWritten(const float* fx, const float* fy, int width, int height, dim3 grid, dim3 block, int x, int y);

// Frame steps run in one pass, and owed distributions paid, since the
// process started (for the benchmark and tests: the arrays' contents are
// the same either way wherever they can be observed).
unsigned long long fusedFrameSteps();
unsigned long long owedDistributionsPaid();

// The memory that frame steps have moved since the process started: bytes
// read plus written in their five arrays, and the cells of their grids.
struct FrameStepTraffic {
    unsigned long long bytes;
    unsigned long long cells;
};
FrameStepTraffic frameStepTraffic();

}  // namespace cpu_kernels
