// The simulation's device constants. On the GPU they live in constant memory
// under these names; on the CPU they are compile-time constants, except the
// three that a setting may change (SW_SETTABLE below).
#pragma once

// The lattice's directions: the rest direction, four axes, four diagonals.
// Every cell holds one distribution value per direction, kDirections floats
// in a row (cell-major) wherever the model's arrays are seen.
constexpr int kDirections = 9;

#if defined(__CUDACC__)
#define SW_CONSTANT __constant__
#else
#define SW_CONSTANT constexpr
#endif

// Constants that model/device_settings.h may write at run time, through
// cudaMemcpyToSymbol, ordered after every launch issued before. On the GPU
// they are in constant memory like the others; on the CPU backend they are
// ordinary globals with these initial values, defined once in
// cpu_backend/dispatch/kernel_dispatch.cpp. Host code of the CUDA backend
// has only their declaration, never defined there: what it may read is
// their initial values, the k constants here.
constexpr float kInitialRelaxationFactor = 0.6666667f;  // 1/tau, tau = 1.5
constexpr float kInitialBlackDepth = 0.0495f;  // the still-water depth 0.05 - 0.0005
constexpr float kInitialWhiteDepth = 0.0505f;  // and + 0.0005
#if defined(__CUDACC__)
#define SW_SETTABLE(name, initial) __constant__ float name = initial
#else
#define SW_SETTABLE(name, initial) extern float name
#endif

SW_CONSTANT float c_gacl = 9.81f;  // gravitational acceleration g
SW_SETTABLE(c_omega, kInitialRelaxationFactor);  // relaxation factor

// D2Q9 lattice velocities: 0 rest, then counter-clockwise from +x; odd
// directions are axes, even ones diagonals.
SW_CONSTANT float c_ex0 = 0.0f;
SW_CONSTANT float c_ey0 = 0.0f;
SW_CONSTANT float c_ex1 = 1.0f;
SW_CONSTANT float c_ey1 = 0.0f;
SW_CONSTANT float c_ex2 = 1.0f;
SW_CONSTANT float c_ey2 = 1.0f;
SW_CONSTANT float c_ex3 = 0.0f;
SW_CONSTANT float c_ey3 = 1.0f;
SW_CONSTANT float c_ex4 = -1.0f;
SW_CONSTANT float c_ey4 = 1.0f;
SW_CONSTANT float c_ex5 = -1.0f;
SW_CONSTANT float c_ey5 = 0.0f;
SW_CONSTANT float c_ex6 = -1.0f;
SW_CONSTANT float c_ey6 = -1.0f;
SW_CONSTANT float c_ex7 = 0.0f;
SW_CONSTANT float c_ey7 = -1.0f;
SW_CONSTANT float c_ex8 = 1.0f;
SW_CONSTANT float c_ey8 = -1.0f;

// Depths drawn black and white.
SW_SETTABLE(c_minHeight, kInitialBlackDepth);
SW_SETTABLE(c_maxHeight, kInitialWhiteDepth);

// Still-water depth, written at creation and used by the first collision.
constexpr float kInitialDepth = 0.05f;
