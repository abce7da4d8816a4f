// This compiled set's table of launchers, through which the public
// launchers reach it. Constant-initialised: no code of the set runs before
// the set is chosen.
#include "kernel_set.h"

namespace CPU_KERNELS {

const KernelSet kernelSet = {launchInitWaterLB, launchCollision3,     launchStream,
                             launchIncrementForce, launchRainDrop, launchHeightMapToTexture};

}  // namespace CPU_KERNELS
