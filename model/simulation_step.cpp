// One step of the water, every launch of it in order, all on the default
// stream (each checked for acceptance as it is issued, launchAndCheck):
//
//   launch           reads                        writes
//   kCollision3      f (not in the first step),   f (collided), h
//                    fx, fy
//   kStream          f                            fStream
//   (swapDistributions: f and fStream exchange their pointers)
//   kIncrementForce  fx                           fx (decayed toward 0)
//   kIncrementForce  fy                           fy
//   kRainDrop, 0-4   fx, fy in the drop's disc    fx, fy there
//
// A drop's force is first felt by the next step's collision. The picture
// of a displayed frame comes after its steps: kHeightMapToTexture reads h
// and writes the pixel buffer (display_output.cpp).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>

#include "grid_size.h"
#include "kernels/kernel_launch.h"
#include "kernels/stream.h"
#include "simulation_step.h"
#include "water_model.h"

namespace {

// Threads per side of a rain drop's blocks.
constexpr int kDropBlockSide = 16;

// Drop centres are kept within +-2^30: any centre that far out lies wholly
// outside every grid, and the kernel's cell arithmetic cannot overflow.
constexpr float kFarthestCentre = 1073741824.0f;

// The drop's centre cell: the nearest whole number, halves away from zero.
// NaN and centres beyond the limit land far outside the grid, where the
// drop writes nothing, instead of being converted with undefined results.
int dropCentre(float coordinate)
{
    const float nearest = std::round(coordinate);
    if (std::isnan(nearest)) return -static_cast<int>(kFarthestCentre);
    return static_cast<int>(std::clamp(nearest, -kFarthestCentre, kFarthestCentre));
}

// k of a drop's (k + 1) x (k + 1) blocks, k = floor(2 * radius / 16), for a
// radius > 0. A huge radius gives more blocks than the runtime allows, so
// the launch fails and is reported.
int dropBlocksMinusOne(float radius)
{
    const float k = std::floor((radius + radius) * 0.0625f);
    return static_cast<int>(std::min(k, 65535.0f));
}

// Created on first use; a restart of the water starts it again.
std::mt19937* rainRng = nullptr;

constexpr unsigned kRainSeed = 5489;
constexpr int kMaxDropsPerStep = 4;
// Maps a 32-bit output onto [0, 1], both ends included.
constexpr double kUnitScale = 1.0 / 4294967295.0;

double nextProbability(std::mt19937& rng)
{
    return static_cast<double>(rng()) * kUnitScale;
}

}  // namespace

bool WaterModel::collide(bool notFirstFrame)
{
    return launchAndCheck(launchCollision3, dim3(cellCount() / kCellBlockSize), dim3(kCellBlockSize), f, fx, fy, h,
                          notFirstFrame);
}

bool WaterModel::stream()
{
    return launchAndCheck(launchStream, dim3(width / kStreamTile, height / kStreamTile),
                          dim3(kStreamTileWithBorder, kStreamTileWithBorder), f, fStream);
}

void WaterModel::swapDistributions()
{
    float* streamed = fStream;
    fStream = f;
    f = streamed;
}

bool WaterModel::decayForces()
{
    const dim3 grid(cellCount() / kCellBlockSize);
    return launchAndCheck(launchIncrementForce, grid, dim3(kCellBlockSize), fx) &&
           launchAndCheck(launchIncrementForce, grid, dim3(kCellBlockSize), fy);
}

bool WaterModel::addRainDrop(float x, float y, float strength, float radius)
{
    // A drop of radius 0 would divide 0 by 0 at its centre and write NaN
    // into the forces, from where it spreads through the depth; a negative
    // or NaN radius means no drop at all. Refused as an invalid argument,
    // with no launch.
    if (!(radius > 0.0f)) {
        std::printf("CUDA Runtime API error %d: %s.\n", static_cast<int>(cudaErrorInvalidValue),
                    cudaGetErrorString(cudaErrorInvalidValue));
        return false;
    }
    const int column = dropCentre(x);
    const int row = dropCentre(y);
    // A square of 16(k + 1) threads per side always spans the disc.
    const int k = dropBlocksMinusOne(radius);
    return launchAndCheck(launchRainDrop, dim3(k + 1, k + 1), dim3(kDropBlockSide, kDropBlockSide), column, row, radius,
                          strength, fx, fy, width, height);
}

// Each call draws 1 + 3d outputs for d drops: a probability, then per drop
// a column, a row and the next probability (drawn even after the fourth).
bool spawnRainDrops(WaterModel& model, const RainSettings& rain)
{
    if (!rain.falls) return true;
    if (rainRng == nullptr) rainRng = new std::mt19937(kRainSeed);
    std::mt19937& rng = *rainRng;

    // The chance is compared widened: the default, the float 0.1, is just
    // over the double 0.1.
    const double threshold = static_cast<double>(rain.chance);
    int drops = 0;
    double probability = nextProbability(rng);
    while (probability < threshold) {
        if (drops == kMaxDropsPerStep) break;
        const uint32_t column = static_cast<uint32_t>(rng()) % kGridWidth;
        const uint32_t row = static_cast<uint32_t>(rng()) % kGridHeight;
        if (!model.addRainDrop(static_cast<float>(column), static_cast<float>(row), rain.dropStrength,
                               rain.dropRadius) &&
            deviceCannotContinue())
            return false;
        ++drops;
        probability = nextProbability(rng);
    }
    return true;
}

void restartRain()
{
    delete rainRng;
    rainRng = nullptr;
}

bool advanceWater(WaterModel& model, bool notFirstFrame)
{
    if (!model.collide(notFirstFrame) && deviceCannotContinue()) return false;
    if (!model.stream() && deviceCannotContinue()) return false;
    model.swapDistributions();
    return model.decayForces() || !deviceCannotContinue();
}

bool advanceOneStep(WaterModel& model, int32_t& frameCounter, const RainSettings& rain)
{
    if (!advanceWater(model, frameCounter > 0) || !spawnRainDrops(model, rain)) return false;
    ++frameCounter;
    return true;
}
