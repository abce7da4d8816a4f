// kInitWaterLB: still water of the initial depth, no force.
#pragma once

#include "device_constants.h"
#include "kernel_support.h"

SW_DEVICE void initWaterThread(const ThreadIndex& t, float* h, float* fx, float* fy)
{
    const int i = cellIndex1D(t);
    h[i] = kInitialDepth;
    fx[i] = 0.0f;
    fy[i] = 0.0f;
}
