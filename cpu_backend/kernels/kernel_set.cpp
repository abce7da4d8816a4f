// This compiled set's table of functions, through which the public
// launchers reach it. Constant-initialised: no code of the set runs before
// the set is chosen.
#include "kernel_set.h"

namespace CPU_KERNELS {

const KernelSet kernelSet = {runInitWaterLB,        runCollision3, runStream,  runIncrementForce, runRainDrop,
                             runHeightMapToTexture, runStepPass,  runRestoreCellMajor};

}  // namespace CPU_KERNELS
