// The settable device constants of the CPU backend (kernels/device_constants.h):
// ordinary globals that every compiled set of kernels reads and that
// cudaMemcpyToSymbol writes once the launches issued before it have run.
#include "kernels/device_constants.h"

float c_omega = kInitialRelaxationFactor;
float c_minHeight = kInitialBlackDepth;
float c_maxHeight = kInitialWhiteDepth;
