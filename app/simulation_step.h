// One simulation step as every frame makes it, shared by the window's
// update and the headless runner.
#pragma once

#include <cstdint>

struct WaterModel;

// Lets up to four random drops fall on the model. The drops come from one
// process-wide fixed-seed stream, so every run sees the same drops in the
// same frames.
void spawnRainDrops(WaterModel& model);

// Collide (from still water when frameCounter is 0), stream, swap the
// distributions, decay the forces, let the rain fall, count the frame. The
// operations report their own failures; the step goes on regardless.
void advanceOneStep(WaterModel& model, int32_t& frameCounter);
