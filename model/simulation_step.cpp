// The simulation step of one frame, and the rain that falls in it: a
// fixed-seed random stream decides each frame whether drops fall (at most
// four) and where, so every run sees the same drops.
#include <cstdint>
#include <random>

#include "grid_size.h"
#include "water_model.h"
#include "simulation_step.h"

namespace {

// Created on first use; a restart of the water starts it again.
std::mt19937* rainRng = nullptr;

constexpr unsigned kRainSeed = 5489;
constexpr int kMaxDropsPerFrame = 4;
// Maps a 32-bit output onto [0, 1], both ends included.
constexpr double kUnitScale = 1.0 / 4294967295.0;

double nextProbability(std::mt19937& rng)
{
    return static_cast<double>(rng()) * kUnitScale;
}

}  // namespace

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
        if (drops == kMaxDropsPerFrame) break;
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
