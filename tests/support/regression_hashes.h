// What the program's frames with rain have always produced on the
// application's grid, on every backend: hashes of the depth and of the
// pixels after kRegressionFrames frames, as the headless runner prints them
// for --frames 16 --checksum.
#pragma once

#include <cstdint>

// Long enough for the first drop (frame 11) to spread for a few frames.
constexpr int kRegressionFrames = 16;
constexpr uint64_t kRegressionDepthHash = 0xE80654DC6C12A64Cull;
constexpr uint64_t kRegressionPixelHash = 0x595901E356B9F062ull;
