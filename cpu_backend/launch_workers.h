// How the CPU runtime launches a kernel: validation as the CUDA runtime does
// it, and the spreading of blocks over every hardware thread. The per-thread
// loops live with the kernels (cpu_backend/kernels/).
#pragma once

#include <cuda_runtime_api.h>

#include <cstddef>
#include <functional>
#include <mutex>

namespace cpu_runtime {

struct KernelInfo {
    const char* name;
    size_t staticSharedBytes;
};

// Checks the launch shape and the kernel's shared memory against the
// device's limits and records the launch. A rejected launch records its
// status as the last error and returns false.
bool acceptLaunch(const KernelInfo& kernel, dim3 grid, dim3 block);

// The CUDA runtime may be called from several host threads at once; the CPU
// runtime's entry points that launch, run the queued launches or touch
// device memory hold this lock for their whole work, so that one thread's
// launches, queue and copies never interleave with another's. Recursive,
// since such an entry point runs the queue, which takes it again.
std::unique_lock<std::recursive_mutex> lockRuntime();

// Calls body(first, end) for consecutive ranges covering [0, blockCount),
// spread over all workers; returns when every range is done.
void runBlocksInParallel(size_t blockCount, const std::function<void(size_t, size_t)>& body);

// Accepted launches may wait in a queue, as they do in a GPU's stream, so
// that the kernels can run several of them in one pass over memory. The
// kernels install the function that runs what waits; every runtime call
// that touches device memory, waits for the device or reads its clock runs
// it first, so no caller ever sees a launch that has not yet run.
void setQueuedLaunchRunner(void (*runner)());
void runQueuedLaunches();

}  // namespace cpu_runtime
