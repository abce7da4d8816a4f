// The settable device constants of the CPU backend (kernels/device_constants.h):
// ordinary globals that every compiled set of kernels reads and that
// cudaMemcpyToSymbol writes once the launches issued before it have run.
// Each is registered as a device symbol, as a CUDA module's are.
#include "kernels/device_constants.h"

#include "cpu_backend/runtime/device_symbols.h"

float c_omega = kInitialRelaxationFactor;
float c_minHeight = kInitialBlackDepth;
float c_maxHeight = kInitialWhiteDepth;

namespace {
const cpu_runtime::DeviceSymbol relaxationFactorSymbol(&c_omega, sizeof c_omega);
const cpu_runtime::DeviceSymbol blackDepthSymbol(&c_minHeight, sizeof c_minHeight);
const cpu_runtime::DeviceSymbol whiteDepthSymbol(&c_maxHeight, sizeof c_maxHeight);
}  // namespace
