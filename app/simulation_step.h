// One simulation step as every frame makes it, shared by the window's
// update and the headless runner.
#pragma once

#include <cstdint>

struct WaterModel;

// Every rain drop's strength and radius (in cells).
constexpr float kDropStrength = 0.0002f;
constexpr float kDropRadius = 89.6f;

// Lets up to four random drops fall on the model. The drops come from one
// process-wide fixed-seed stream, so every run sees the same drops in the
// same frames. Returns false when a drop failed and the device cannot
// continue (deviceCannotContinue); no further drop is tried then.
bool spawnRainDrops(WaterModel& model);

// Takes the rain's stream back to its start: the next spawnRainDrops is a
// new run's first.
void restartRain();

// The water's part of a step: collide (from still water unless
// notFirstFrame), stream, swap the distributions, decay the forces. The
// operations report their own failures and the step goes on regardless,
// unless the device cannot continue: then it stops at once and returns
// false, so that the failure is reported once.
bool advanceWater(WaterModel& model, bool notFirstFrame);

// One frame: advanceWater (from still water when frameCounter is 0), then
// the rain of the frame, then the frame is counted. False, as above, when
// the device cannot continue.
bool advanceOneStep(WaterModel& model, int32_t& frameCounter);
