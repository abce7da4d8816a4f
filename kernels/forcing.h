// Rain forcing: kRainDrop writes one drop's radial push into the force
// fields, kIncrementForce decays a force component toward zero.
#pragma once

#include "kernel_support.h"

// The launch is a square of threads centred on the drop's centre cell; each
// thread owns one offset (dx, dy) from the centre.
SW_DEVICE void rainDropThread(const ThreadIndex& t, int x, int y, float radius, float strength, float* fx, float* fy,
                              int width, int height)
{
    const int threadsX = mul24(static_cast<int>(t.gridDim.x), static_cast<int>(t.blockDim.x));
    const int threadsY = mul24(static_cast<int>(t.gridDim.y), static_cast<int>(t.blockDim.y));
    const int dx = mul24(static_cast<int>(t.blockIdx.x), static_cast<int>(t.blockDim.x)) +
                   static_cast<int>(t.threadIdx.x) - (threadsX >> 1);
    const int dy = mul24(static_cast<int>(t.blockIdx.y), static_cast<int>(t.blockDim.y)) +
                   static_cast<int>(t.threadIdx.y) - (threadsY >> 1);
    const int X = x + dx;
    const int Y = y + dy;
    if (X < 0 || X >= width || Y < 0 || Y >= height) return;  // clipped at the grid's edges

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
