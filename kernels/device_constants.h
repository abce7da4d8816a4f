// The simulation's device constants. On the GPU they live in constant memory
// under these names; on the CPU they are compile-time constants.
#pragma once

#if defined(__CUDACC__)
#define SW_CONSTANT __constant__
#else
#define SW_CONSTANT constexpr
#endif

SW_CONSTANT float c_gacl = 9.81f;       // gravitational acceleration g
SW_CONSTANT float c_omega = 0.6666667f; // relaxation factor 1/tau, tau = 1.5

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

// Depths drawn black and white: the still-water depth 0.05 +- 0.0005.
SW_CONSTANT float c_minHeight = 0.0495f;
SW_CONSTANT float c_maxHeight = 0.0505f;

// Still-water depth, written at creation and used by the first collision.
constexpr float kInitialDepth = 0.05f;
