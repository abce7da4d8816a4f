// The step pass's work on one grid row (row_collision.cpp).
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include "step_pass.h"
#include "stencil_table.h"

namespace CPU_KERNELS {

// Collides grid row y of the pass, in chunks: its cells' values pulled by
// the stencil table from the collided rows around it in fStream, or read
// in cell order from f's row y (StepPass::collidedInFStream); the forces
// from fx and fy where the zero masks do not know them. The collided
// values go direction-major to `out` (the row's nine runs of width floats)
// and the depths to h, both with streaming stores (the caller calls
// cpu_runtime::finishCopiesBypassingCache() before they are read). Then
// both force fields are decayed over the row. Returns how many force
// lines (of both fields) it read and rewrote: those not known to hold
// only +0.0.
int collideRow(const StepPass& pass, const GridStencil& stencil, int y, float* out);

}  // namespace CPU_KERNELS
