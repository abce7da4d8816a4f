// Where the CPU launchers hand the step pass their launches. A step's
// launches (kStepShape) wait here, as launches wait in a GPU's stream, and
// run as one StepPass. Any other launch, and every runtime call that
// touches memory (through the runtime's memory access hook, which the first
// launch installs), first runs what waits, one launch at a time where it
// does not make a step, and restores the cell order of the distributions
// that a pass left direction-major where the call touches them.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cpu_backend.h>

#include <initializer_list>
#include <variant>

#include "buffer_bookkeeping.h"
#include "cpu_backend/kernels/kernel_set.h"

namespace cpu_kernels {

enum class LaunchKind { Collision, Streaming, ForceDecay };

// The step's shape: its launches in the order the model issues them
// (advanceWater in model/simulation_step.cpp), on the model's grid and
// arrays. Between the streaming and the decays the
// model swaps its two distribution pointers, so each pass continues from
// the collided values that the pass before left direction-major. A step of
// another shape runs launch by launch (stepLaunchesRunAlone counts them),
// one without the swap restores the cell order every step
// (cellOrderRestorations): correct, but much slower.
constexpr LaunchKind kStepShape[] = {LaunchKind::Collision, LaunchKind::Streaming, LaunchKind::ForceDecay,
                                      LaunchKind::ForceDecay};

struct CollisionLaunch {
    static constexpr LaunchKind kind = LaunchKind::Collision;
    dim3 grid;
    dim3 block;
    float* f;
    const float* fx;
    const float* fy;
    float* h;
    bool fInitialized;
};

struct StreamingLaunch {
    static constexpr LaunchKind kind = LaunchKind::Streaming;
    dim3 grid;
    dim3 block;
    const float* f;
    float* fStream;
};

struct ForceDecayLaunch {
    static constexpr LaunchKind kind = LaunchKind::ForceDecay;
    dim3 grid;
    dim3 block;
    float* force;
};

using StepLaunch = std::variant<CollisionLaunch, StreamingLaunch, ForceDecayLaunch>;
void queueLaunch(const KernelSet& set, const StepLaunch& launch);

// An array that a one-dimensional launch reads or writes, one value a cell.
struct CellArray {
    const void* values;
    bool written;
};
constexpr bool kReads = false;
constexpr bool kWrites = true;

// What a one-dimensional launch of grid.x * block.x threads touches: that
// many cells of each array, or anywhere where its indices are not exact.
Access cellLaunchAccess(dim3 grid, dim3 block, std::initializer_list<CellArray> arrays);

// Before any launch that is not queued: runs what waits, restores the
// cell order of what `access` could observe, and clears the zero masks where
// it writes.
void beforeLaunch(const Access& access);

// Before a rain drop's launch: the same for both force fields, whose zero
// masks are cleared only within the drop's footprint.
void beforeRainDrop(dim3 grid, dim3 block, int x, int y, const float* fx, const float* fy, int width, int height);

// After kInitWaterLB: both force fields of `cells` cells hold only +0.0.
void afterForcesCleared(const float* fx, const float* fy, unsigned long long cells);

// Since the process started, for the tests (the arrays read the same either
// way wherever they can be observed): restorations of the cell order, and
// launches of the step's kinds that ran one by one (not in a pass). The
// step passes' own counts are in <cpu_backend.h>.
unsigned long long cellOrderRestorations();
unsigned long long stepLaunchesRunAlone();

}  // namespace cpu_kernels
