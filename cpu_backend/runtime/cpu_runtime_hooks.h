// Test hooks of the CPU runtime. None of them has any effect until used.
//
// Two of them can also be set from outside the process, so that tests can
// drive the real programs:
//   SHALLOW_WATER_CPU_DEVICES  the device list: devices separated by ';',
//       each "name,major.minor,multiprocessors,clockKHz[,computeMode]";
//       an empty value means no device at all.
//   SHALLOW_WATER_CPU_FAIL     failing calls: entries separated by ',',
//       each "call:n:status", e.g. "cudaMalloc:3:2" makes the third
//       cudaMalloc of the process fail with status 2. The call names are the
//       runtime's, with "cudaLaunchKernel" for kernel launches. A status
//       that leaves a real device unusable (700 illegal address, 719 launch
//       failure, 714, 214, 46 lost device and the like) is sticky, as in the
//       CUDA runtime: once it fires, every later call returns it and
//       cudaGetLastError does not clear it.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cuda_runtime_api.h>

#include <cstddef>
#include <string>
#include <vector>

namespace cpu_runtime {

struct EmulatedDevice {
    std::string name;
    int major = 9999;
    int minor = 9999;
    int multiProcessorCount = 1;
    int clockRateKHz = 1000000;
    int computeMode = cudaComputeModeDefault;
};

// The device offered when nothing replaces the list: one emulated device
// with one multiprocessor per hardware thread.
EmulatedDevice defaultDevice();

// Replaces the device list (an empty list means no device); resetDevices
// returns to the list of the environment, or the default device.
void setDevices(const std::vector<EmulatedDevice>& devices);
void resetDevices();

// Parses a device list in the environment variable's format. Returns false
// on malformed text.
bool parseDeviceList(const std::string& text, std::vector<EmulatedDevice>* devices);

// Makes the nth use of the named call (counted from now, 1 = the next one)
// fail with the given status. Several failures may be armed at once. A
// sticky status (see above) fails every call after it too.
void failCall(const std::string& callName, int nthUse, cudaError_t status);
// Disarms every failure and makes the device usable again.
void clearFailures();

// Device allocations that are live now.
size_t liveAllocationCount();

struct LaunchRecord {
    std::string kernel;
    dim3 grid;
    dim3 block;
    cudaError_t status;  // cudaSuccess when the launch ran
};

// Launch recording: off by default.
void recordLaunches(bool enabled);
std::vector<LaunchRecord> recordedLaunches();
void clearRecordedLaunches();

// Number of threads kernels are spread over.
unsigned workerCount();

}  // namespace cpu_runtime
