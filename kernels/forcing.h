// Rain forcing: kRainDrop writes one drop's radial push into the force
// fields, kIncrementForce decays a force component toward zero.
#pragma once

#include "kernel_support.h"

// A drop's launch is a square of threads centred on the drop's centre cell;
// each thread owns one offset (dx, dy) from the centre. The thread at
// position p of `threads` along an axis has offset p - threads / 2.
SW_DEVICE int dropOffset(int position, int threads)
{
    return position - (threads >> 1);
}

// The cells that a drop's square of threads covers, clipped to the grid
// (first and last column and row, inclusive; empty where left > right or
// top > bottom). The kernel writes no cell outside it, and the CPU backend
// takes it as where a drop may have written.
struct DropFootprint {
    int left;
    int top;
    int right;
    int bottom;

    SW_DEVICE bool contains(int X, int Y) const { return X >= left && X <= right && Y >= top && Y <= bottom; }
};

SW_DEVICE DropFootprint dropFootprint(int x, int y, int threadsX, int threadsY, int width, int height)
{
    const int left = x + dropOffset(0, threadsX);
    const int top = y + dropOffset(0, threadsY);
    const int right = x + dropOffset(threadsX - 1, threadsX);
    const int bottom = y + dropOffset(threadsY - 1, threadsY);
    return {left < 0 ? 0 : left, top < 0 ? 0 : top, right < width - 1 ? right : width - 1,
            bottom < height - 1 ? bottom : height - 1};
}

SW_DEVICE void rainDropThread(const ThreadIndex& t, int x, int y, float radius, float strength, float* fx, float* fy,
                              int width, int height)
{
    const int threadsX = mul24(static_cast<int>(t.gridDim.x), static_cast<int>(t.blockDim.x));
    const int threadsY = mul24(static_cast<int>(t.gridDim.y), static_cast<int>(t.blockDim.y));
    const int dx = dropOffset(mul24(static_cast<int>(t.blockIdx.x), static_cast<int>(t.blockDim.x)) +
                                  static_cast<int>(t.threadIdx.x),
                              threadsX);
    const int dy = dropOffset(mul24(static_cast<int>(t.blockIdx.y), static_cast<int>(t.blockDim.y)) +
                                  static_cast<int>(t.threadIdx.y),
                              threadsY);
    const int X = x + dx;
    const int Y = y + dy;
    if (!dropFootprint(x, y, threadsX, threadsY, width, height).contains(X, Y)) return;  // clipped at the grid's edges

    const float fdx = static_cast<float>(dx);
    const float fdy = static_cast<float>(dy);
    const float d = sqrtRounded(fusedMulAdd(fdx, fdx, fdy * fdy));
    if (!(d <= radius)) return;  // outside the disc; a NaN radius excludes every cell

    const float s = ((radius - d) / radius) * strength;
    const int i = mul24(Y, width) + X;
    fx[i] = s * (fdx / radius);
    fy[i] = s * (fdy / radius);
}

// Fixed decay per step; values within it snap to zero, and so does NaN.
constexpr float kForceDecayStep = 1e-5f;

SW_DEVICE void decayForceCell(int i, float* force)
{
    // Both steps are taken and one result is selected and stored, rather
    // than branched to, so that the CPU backend's loops over cells vectorise.
    const float a = force[i];
    const float towardZeroFromAbove = a + -kForceDecayStep;
    const float towardZeroFromBelow = a + kForceDecayStep;
    const bool above = a > kForceDecayStep;
    const bool below = a < -kForceDecayStep;
    force[i] = above ? towardZeroFromAbove : below ? towardZeroFromBelow : 0.0f;
}

SW_DEVICE void decayForceThread(const ThreadIndex& t, float* force)
{
    decayForceCell(cellIndex1D(t), force);
}
