// kHeightMapToTexture: depth to an opaque grey pixel word, black at
// c_minHeight, white at c_maxHeight; bytes c, c, c, 255 in memory.
//
// CPU specialisation: cpu_backend/kernels/simple_kernels.cpp writes each block's
// pixels through a small buffer with streaming stores.
#pragma once

#include "device_constants.h"
#include "kernel_support.h"

SW_DEVICE unsigned int depthToPixel(float d)
{
    const float lo = c_minHeight;
    const float hi = c_maxHeight;
    // Black below the range and for NaN, white above it. Every operation
    // runs for every depth and the result is selected, rather than branched
    // to, so that the CPU backend's loops over cells vectorise; the scaled
    // value is simply unused outside the range.
    const float scaled = ((d - lo) / (hi - lo)) * 255.0f;
    const bool black = !(d >= lo);
    const bool white = d > hi;
    const float level = black ? 0.0f : white ? 255.0f : scaled;
    const unsigned int c = static_cast<unsigned int>(static_cast<int>(level));  // truncation toward zero
    return 0xFF000000u | (c << 16) | (c << 8) | c;
}

SW_DEVICE void heightMapCell(int i, const float* h, unsigned int* pixels)
{
    pixels[i] = depthToPixel(h[i]);
}

SW_DEVICE void heightMapThread(const ThreadIndex& t, const float* h, unsigned int* pixels)
{
    heightMapCell(cellIndex1D(t), h, pixels);
}
