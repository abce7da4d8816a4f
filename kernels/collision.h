// kCollision3: one fused BGK collision with external force per cell.
//
// From the cell's nine values it forms depth and velocity, stores the depth,
// evaluates the shallow-water equilibrium, relaxes toward it and adds the
// force. Every value is formed in one fixed grouping (fusedMulAdd where a
// fused operation is meant, single roundings everywhere else) so that the
// CPU and the GPU agree bit for bit.
//
// CPU specialisation: cpu_backend/kernels/chunk_collision.h runs collideCell
// on 32-cell chunks in direction-major order (kCollisionChunk).
#pragma once

#include "device_constants.h"
#include "exact_division.h"
#include "kernel_support.h"

// The per-cell code is generic in the value type `Real`: float on the GPU
// and in the CPU's loops, which vectorise across cells, or a vector of
// lanes (one cell each) where the CPU build spells out its SIMD, with the
// same operations lane by lane (cpu_backend/kernels/simd128_lanes.h).

// The two kinds of moving direction, which differ only in their weights.
enum class DirectionKind { axis, diagonal };

// x / kAxis for an axis direction, x / kDiagonal for a diagonal one.
template <int kAxis, int kDiagonal, typename Real>
SW_DEVICE Real divideFor(DirectionKind kind, Real x)
{
    return kind == DirectionKind::diagonal ? divideBy<kDiagonal>(x) : divideBy<kAxis>(x);
}

// Equilibrium of one moving direction. The axis and diagonal directions
// differ only in their weights: 1/2, 1/3, 1/6, 1/6 for the axes and
// 1/8, 1/12, 1/24, 1/24 for the diagonals.
template <typename Real>
SW_DEVICE Real movingEquilibrium(Real h, Real u, Real v, Real q, Real G, float ex, float ey, DirectionKind kind)
{
    // eu = u*ex + v*ey, each product rounded on its own.
    const Real eu = addRounded(mulRounded(u, ex), mulRounded(v, ey));
    const Real eu2 = fusedMulAdd(v, ey * (v * ey), fusedMulAdd(u, ex * (u * ex), v * (ey * (u * (ex + ex)))));
    const float squareWeight = kind == DirectionKind::diagonal ? 0.125f : 0.5f;
    const Real base =
        fusedMulAdd(h * squareWeight, eu2, fusedMulAdd(eu, divideFor<3, 12>(kind, h), divideFor<6, 24>(kind, G)));
    return subRounded(base, mulRounded(q, divideFor<6, 24>(kind, h)));
}

// The relaxation's two weights: omega for the equilibrium, 1 - omega for
// the value it replaces.
struct Relaxation {
    float omega;
    float oneMinusOmega;
};

// The weights of the relaxation factor c_omega as it is now. A setting may
// change c_omega between launches, never during one; the CPU backend reads
// it once per chunk of cells rather than once per cell, since its stores of
// collided values could otherwise alias the global in the compiler's view.
SW_DEVICE Relaxation currentRelaxation()
{
    const float omega = c_omega;
    return Relaxation{omega, 1.0f - omega};
}

// Relaxation toward the equilibrium plus the force term of one direction.
template <typename Real>
SW_DEVICE Real relaxWithForce(Real p, Real feq, const Relaxation& relaxation, Real Fx, Real Fy, float ex, float ey,
                              float forceWeight)
{
    const Real relaxed = fusedMulAdd(feq, relaxation.omega, p * relaxation.oneMinusOmega);
    const Real force = fusedMulAdd(Fx, ex, Fy * ey);
    return fusedMulAdd(force, forceWeight, relaxed);
}

// A cell's depth and velocity before its collision.
template <typename Real>
struct CellMoments {
    Real depth;
    Real u;
    Real v;
};

// What collideCellPart does: the whole collision, or one of its two parts,
// the moments (the cell's depth and velocity, from its values) or the
// relaxation that follows from them (the moments passed in).
enum class CellCollisionPart { whole, moments, relaxation };

// Collides one cell in place (or does one part of that) and returns its
// depth before collision. values[k] is the cell's value of direction k:
// read first (unless this is the first step, which starts from still
// water), then overwritten. The GPU passes a pointer to the cell's nine
// values and collides it whole; the CPU backend passes a view into a chunk
// of cells held direction-major, and may run the two parts as loops of
// their own (cpu_backend/kernels/chunk_collision.h), each cell's
// operations the same in either.
// `relaxation` is currentRelaxation(), read by the caller.
template <CellCollisionPart part, typename CellValues, typename Real>
SW_DEVICE Real collideCellPart(CellValues values, Real Fx, Real Fy, bool fInitialized, const Relaxation& relaxation,
                               CellMoments<Real>* moments)
{
    Real depth = kInitialDepth;
    Real u = 0.0f;
    Real v = 0.0f;
    Real p[kDirections] = {};
    if (fInitialized) {
        for (int k = 0; k < kDirections; ++k) p[k] = values[k];
        if constexpr (part == CellCollisionPart::relaxation) {
            depth = moments->depth;
            u = moments->u;
            v = moments->v;
        } else {
            depth = p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8];
            const Real mx = p[1] + p[2] - p[4] - p[5] - p[6] + p[8];
            const Real my = p[2] + p[3] + p[4] - p[6] - p[7] - p[8];
            u = mx / depth;
            v = my / depth;
        }
    }
    if constexpr (part == CellCollisionPart::moments) {
        *moments = CellMoments<Real>{depth, u, v};
        return depth;
    }

    const float g = c_gacl;
    const Real q = fusedMulAdd(u, u, v * v);
    const Real G = depth * (depth * g);
    Real feq[kDirections];
    feq[0] = fusedMulAdd(q, divideBy<3>(depth * -2.0f), depth + divideBy<6>(depth * (depth * (g * -5.0f))));
    feq[1] = movingEquilibrium(depth, u, v, q, G, c_ex1, c_ey1, DirectionKind::axis);
    feq[2] = movingEquilibrium(depth, u, v, q, G, c_ex2, c_ey2, DirectionKind::diagonal);
    feq[3] = movingEquilibrium(depth, u, v, q, G, c_ex3, c_ey3, DirectionKind::axis);
    feq[4] = movingEquilibrium(depth, u, v, q, G, c_ex4, c_ey4, DirectionKind::diagonal);
    feq[5] = movingEquilibrium(depth, u, v, q, G, c_ex5, c_ey5, DirectionKind::axis);
    feq[6] = movingEquilibrium(depth, u, v, q, G, c_ex6, c_ey6, DirectionKind::diagonal);
    feq[7] = movingEquilibrium(depth, u, v, q, G, c_ex7, c_ey7, DirectionKind::axis);
    feq[8] = movingEquilibrium(depth, u, v, q, G, c_ex8, c_ey8, DirectionKind::diagonal);

    // On the first step each cell starts from its own equilibrium.
    if (!fInitialized) {
        for (int k = 0; k < kDirections; ++k) p[k] = feq[k];
    }

    const float moving = 1.0f / 6.0f;
    values[0] = relaxWithForce(p[0], feq[0], relaxation, Fx, Fy, c_ex0, c_ey0, 0.0f);
    values[1] = relaxWithForce(p[1], feq[1], relaxation, Fx, Fy, c_ex1, c_ey1, moving);
    values[2] = relaxWithForce(p[2], feq[2], relaxation, Fx, Fy, c_ex2, c_ey2, moving);
    values[3] = relaxWithForce(p[3], feq[3], relaxation, Fx, Fy, c_ex3, c_ey3, moving);
    values[4] = relaxWithForce(p[4], feq[4], relaxation, Fx, Fy, c_ex4, c_ey4, moving);
    values[5] = relaxWithForce(p[5], feq[5], relaxation, Fx, Fy, c_ex5, c_ey5, moving);
    values[6] = relaxWithForce(p[6], feq[6], relaxation, Fx, Fy, c_ex6, c_ey6, moving);
    values[7] = relaxWithForce(p[7], feq[7], relaxation, Fx, Fy, c_ex7, c_ey7, moving);
    values[8] = relaxWithForce(p[8], feq[8], relaxation, Fx, Fy, c_ex8, c_ey8, moving);
    return depth;
}


template <typename CellValues, typename Real>
SW_DEVICE Real collideCell(CellValues values, Real Fx, Real Fy, bool fInitialized, const Relaxation& relaxation)
{
    return collideCellPart<CellCollisionPart::whole>(values, Fx, Fy, fInitialized, relaxation,
                                                     static_cast<CellMoments<Real>*>(nullptr));
}

// The collision's thread-to-cell mapping: an ordinary 32-bit product for
// the cell, the 24-bit one for the offset of its nine values.
SW_DEVICE int collisionCellIndex(const ThreadIndex& t)
{
    return static_cast<int>(t.blockIdx.x * t.blockDim.x + t.threadIdx.x);
}

SW_DEVICE void collisionCell(int i, float* f, const float* fx, const float* fy, float* h, bool fInitialized)
{
    h[i] = collideCell(f + mul24(i, kDirections), fx[i], fy[i], fInitialized, currentRelaxation());
}

SW_DEVICE void collisionThread(const ThreadIndex& t, float* f, const float* fx, const float* fy, float* h,
                               bool fInitialized)
{
    collisionCell(collisionCellIndex(t), f, fx, fy, h, fInitialized);
}
