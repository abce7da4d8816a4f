// The CPU kernels are compiled once per instruction set, each time into a
// namespace of its own (CPU_KERNELS, set by the build: cpu_kernels_baseline,
// cpu_kernels_avx2, ...), so that the sets' functions and helpers never
// share a symbol. A KernelSet holds one set's functions; the public
// launchers of kernels/kernel_launch.h check each launch and hand it to the
// set chosen at start-up (kernel_dispatch.cpp, instruction_set_choice.h),
// at once or through the launch queue (launch_queue.h).
#pragma once

#include "kernels/kernel_launch.h"

#include <cstdint>

// A force field's cells in segments of 16 (one 64-byte line), each of which
// may be known to hold only +0.0.
constexpr int kZeroSegmentCells = 16;

// One frame's collision, streaming and force decays, as one pass may run
// them: f collided (depth to h), streamed into fStream, and both force
// fields decayed. The five arrays never overlap. With mayLeaveFOwed the
// pass need not write the collided values back to f where streaming moves
// each value exactly once: they are then owed, recoverable from fStream
// (KernelSet::unstream). Where a force field has a map of its segments
// (one byte each, non-zero where the segment holds only +0.0), the pass
// neither reads nor writes the known segments, the collision taking +0.0
// there, and updates the map from the decay's results.
struct FrameStep {
    float* f;
    float* fStream;
    float* fx;
    float* fy;
    float* h;
    bool fInitialized;
    int width;
    int height;
    bool mayLeaveFOwed;
    uint8_t* fxZeroSegments;  // null: nothing known
    uint8_t* fyZeroSegments;
    unsigned long long* movedBytes;  // out: the bytes the pass read and wrote in these arrays
};

// How a frame step ran, if it did.
enum class FrameStepRun { kNotRun, kFWritten, kFOwed };

// One compiled set. Each run function does the work of one launch that the
// runtime has already accepted, with kernel_launch.h's signature;
// frameStep does a FrameStep in one pass and returns kNotRun, having done
// nothing, where it cannot (the launches then run one by one); unstream
// writes into f what streaming moved from it into fStream (false, having
// done nothing, where streaming does not move each value exactly once).
struct KernelSet {
    decltype(&::launchInitWaterLB) initWaterLB;
    decltype(&::launchCollision3) collision3;
    decltype(&::launchStream) stream;
    decltype(&::launchIncrementForce) incrementForce;
    decltype(&::launchRainDrop) rainDrop;
    decltype(&::launchHeightMapToTexture) heightMapToTexture;
    FrameStepRun (*frameStep)(const FrameStep& step);
    bool (*unstream)(const float* fStream, float* f, int width, int height);
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
FrameStepRun runFrameStep(const FrameStep& step);
bool runUnstream(const float* fStream, float* f, int width, int height);

extern const KernelSet kernelSet;

}  // namespace CPU_KERNELS
#endif
