// The headless runner's benchmark: each kernel of a frame and the whole
// frame, against the memory bandwidth measured in the same run.
#pragma once

#include <cstdint>

struct WaterModel;

// Runs warm-up frames, then `frames` timed frames, and prints the table on
// standard output. pixels is a device buffer of one word per cell. False
// when a CUDA call failed (already reported).
bool runBenchmark(WaterModel& model, unsigned int* pixels, int frames, int32_t& frameCounter);
