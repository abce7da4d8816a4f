// kInitWaterLB: still water of the initial depth, no force.
#pragma once

#include "device_constants.h"
#include "kernel_support.h"

SW_DEVICE void initWaterCell(int i, float* h, float* fx, float* fy)
{
    h[i] = kInitialDepth;
    fx[i] = 0.0f;
    fy[i] = 0.0f;
}

SW_DEVICE void initWaterThread(const ThreadIndex& t, float* h, float* fx, float* fy)
{
    initWaterCell(cellIndex1D(t), h, fx, fy);
}
