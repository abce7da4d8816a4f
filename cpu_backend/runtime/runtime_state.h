// Internal state of the CPU runtime shared by its source files.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include "cpu_runtime_hooks.h"

namespace cpu_runtime {

// Records a failed status as the calling thread's last error and returns it,
// as every runtime call does.
cudaError_t recordStatus(cudaError_t status);

// Counts one use of the named call and returns the status armed for this use
// (cudaSuccess when none is armed), or the sticky error once there is one.
// An armed status that leaves a real device unusable (an illegal address, a
// launch failure, a lost device...) becomes sticky when it fires.
cudaError_t injectedStatus(const char* callName);

// Whether the CUDA runtime keeps returning this status to every later call.
bool isStickyStatus(cudaError_t status);

// The sticky error, or cudaSuccess while the device is usable.
cudaError_t stickyStatus();

// Releases every device allocation (device reset).
void freeAllAllocations();

// The device that cudaSetDevice or cudaGLSetGLDevice bound last (0 at first).
int& currentDevice();

// The current device list.
const std::vector<EmulatedDevice>& devices();

// Makes the device current after the checks cudaSetDevice makes (armed
// failure, no device, index, prohibited compute mode); failures become the
// last error.
cudaError_t bindDevice(const char* callName, int device);

}  // namespace cpu_runtime
