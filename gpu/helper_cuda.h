// Command-line options, the choice of the fastest CUDA device, and the fatal
// report of a CUDA call that failed during device selection.
#pragma once

#include <cuda_runtime.h>

// True when any argument after the program name is the flag `name`: leading
// dashes are ignored (unless nothing but one character would be left), so
// are letter case and any "=value" part. -device, --DEVICE=2 and device=1
// all match "device"; -devices does not.
bool hasCommandLineFlag(int argc, const char* const* argv, const char* name);

// The value of the last "device=" argument (dashes and case as above), or 0
// when there is none. Text that is not a number reads as 0, a leading number
// is read, a negative one is returned as it is, and one outside the int
// range is clamped to it.
int getDeviceArgument(int argc, const char* const* argv);

// CUDA cores per multiprocessor for an architecture version. Versions the
// table lacks get the newest known count, after a line on standard output.
int MapSMtoCores(int major, int minor);

// The usable device with the highest rating (multiprocessors x clock x cores
// per multiprocessor) among those of the newest major architecture; the
// lower ordinal on a tie. Does not bind it. Ends the process with status 1
// when no device is usable.
int gpuGetMaxGflopsDeviceId();

// The enumerator name of a CUDA runtime status, from the table of the
// statuses this program knows; "<unknown>" for every other code.
const char* cudaErrorEnumName(int code);

// Returns when `status` is cudaSuccess. Otherwise prints the failed call
// with its place in the source on standard error, resets the device and
// ends the process with status 1.
void requireCudaSuccess(cudaError_t status, const char* callText, const char* file, int line);

// Wraps one CUDA call in the fatal check, with the call's text and the place
// of the check as the compiler knows it.
#define REQUIRE_CUDA_SUCCESS(call) requireCudaSuccess((call), #call, __FILE__, __LINE__)
