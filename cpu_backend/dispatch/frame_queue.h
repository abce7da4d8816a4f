// Where the CPU launchers hand the frame pass their launches. A frame's
// launches (kFrameShape) wait here, as launches wait in a GPU's stream, and
// run as one FramePass. Any other launch, and every runtime call that
// touches memory (through the runtime's memory access hook, which the first
// launch installs), first runs what waits, one launch at a time where it
// does not make a frame, and restores the cell order of the distributions
// that a pass left direction-major where the call touches them.
#pragma once

#include <initializer_list>
#include <variant>

#include "buffer_bookkeeping.h"
#include "cpu_backend/kernels/kernel_set.h"

namespace cpu_kernels {

enum class LaunchKind { Collision, Streaming, ForceDecay };

// The frame's shape: its launches in the order the model issues them
// (advanceWater in app/simulation_step.cpp, model/step_launches.cpp), on
// the model's grid and arrays. Between the streaming and the decays the
// model swaps its two distribution pointers, so each pass continues from
// the collided values that the pass before left direction-major. A step of
// another shape runs launch by launch (frameLaunchesRunAlone counts them),
// one without the swap restores the cell order every frame
// (cellOrderRestorations): correct, but much slower.
constexpr LaunchKind kFrameShape[] = {LaunchKind::Collision, LaunchKind::Streaming, LaunchKind::ForceDecay,
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

using FrameLaunch = std::variant<CollisionLaunch, StreamingLaunch, ForceDecayLaunch>;
void queueLaunch(const KernelSet& set, const FrameLaunch& launch);

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

// Since the process started, for the benchmark and tests (the arrays read
// the same either way wherever they can be observed): frame passes run,
// restorations of the cell order, launches of the frame's kinds that ran
// one by one (not in a pass), and the memory the passes moved (bytes read
// plus written in their five arrays, and the cells of their grids).
unsigned long long framePassesRun();
unsigned long long cellOrderRestorations();
unsigned long long frameLaunchesRunAlone();
struct FramePassTraffic {
    unsigned long long bytes;
    unsigned long long cells;
};
FramePassTraffic framePassTraffic();

}  // namespace cpu_kernels
