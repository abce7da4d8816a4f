// One step of the water and the rain that falls in it, shared by the
// window's update, the headless runner and the browser's page. The order
// of its launches, and what each reads and writes: simulation_step.cpp.
#pragma once

#include <cstdint>

struct WaterModel;

// Every rain drop's strength and radius (in cells).
constexpr float kDropStrength = 0.0002f;
constexpr float kDropRadius = 89.6f;

// The rain as it can be set (the defaults are the program's own rain), and
// the ranges a setting may take: where the model was seen to stay stable at
// its hardest corner. A chance of 0.5 with drops of radius 256 and strength
// +-0.0004 stayed finite for 3,000 steps; four drops every step (chance 1)
// of radius 512 turned to NaN within 2,000 at strength 0.0005.
struct RainSettings {
    bool falls = true;
    float chance = 0.1f;  // of a first drop in a step, and of each further one
    float dropRadius = kDropRadius;
    float dropStrength = kDropStrength;
};
constexpr float kLargestRainChance = 0.5f;
constexpr float kSmallestDropRadius = 1.0f;
constexpr float kLargestDropRadius = 256.0f;
constexpr float kStrongestDrop = 0.0004f;  // either sign

// The most steps a displayed frame may take (the window's panel, the
// headless runner's --steps-per-frame); the program's own pace is one.
constexpr int kMostStepsPerFrame = 64;

// Lets up to four random drops fall on the model. The drops come from one
// process-wide fixed-seed stream, so every run sees the same drops in the
// same steps. Returns false when a drop failed and the device cannot
// continue (deviceCannotContinue); no further drop is tried then. Rain that
// does not fall leaves the stream where it is.
bool spawnRainDrops(WaterModel& model, const RainSettings& rain = RainSettings{});

// Takes the rain's stream back to its start: the next spawnRainDrops is a
// new run's first.
void restartRain();

// The water's part of a step: collide (from still water unless
// notFirstFrame), stream, swap the distributions, decay the forces. The
// operations report their own failures and the step goes on regardless,
// unless the device cannot continue: then it stops at once and returns
// false, so that the failure is reported once.
bool advanceWater(WaterModel& model, bool notFirstFrame);

// One step: advanceWater (from still water when frameCounter is 0), then
// the step's rain, then the step is counted. frameCounter counts steps (at
// the program's own pace of one step a displayed frame, frames too). False,
// as above, when the device cannot continue.
bool advanceOneStep(WaterModel& model, int32_t& frameCounter, const RainSettings& rain = RainSettings{});
