// kHeightMapToTexture: depth to an opaque grey pixel word, black at
// c_minHeight, white at c_maxHeight (both settable); bytes c, c, c, 255 in
// memory.
//
// CPU specialisation: cpu_backend/kernels/simple_kernels.cpp writes each block's
// pixels through a small buffer with streaming stores.
#pragma once

#include "device_constants.h"
#include "kernel_support.h"

// The depths drawn black and white, c_minHeight and c_maxHeight as they are
// now (a setting may change them between launches, never during one).
struct DepthRange {
    float black;
    float white;
};

SW_DEVICE DepthRange currentDepthRange()
{
    return DepthRange{c_minHeight, c_maxHeight};
}

SW_DEVICE unsigned int depthToPixel(float d, const DepthRange& range)
{
    const float lo = range.black;
    const float hi = range.white;
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

// `range` is currentDepthRange(), read by the caller.
SW_DEVICE void heightMapCell(int i, const float* h, unsigned int* pixels, const DepthRange& range)
{
    pixels[i] = depthToPixel(h[i], range);
}

SW_DEVICE void heightMapThread(const ThreadIndex& t, const float* h, unsigned int* pixels)
{
    heightMapCell(cellIndex1D(t), h, pixels, currentDepthRange());
}
