// How the CPU runtime launches a kernel: validation as the CUDA runtime does
// it, and the spreading of blocks over every hardware thread. The per-thread
// loops live with the kernels (cpu_backend/kernels/).
#pragma once

#include "cpu_backend/runtime/internal_header.h"

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
// runtime's entry points that launch, call the memory access hook or touch
// device memory hold this lock for their whole work, so that one thread's
// launches, waiting launches and copies never interleave with another's.
// Recursive, since such an entry point calls the hook, which may launch.
std::unique_lock<std::recursive_mutex> lockRuntime();

// A buffer of at least `floats` floats on a 64-byte boundary, this
// thread's own, kept (and grown as needed) between calls so that a worker's
// rows allocate nothing step after step. Held here, compiled once, not in
// the kernel sets: a container instantiated there would be emitted by
// every set and shared between them.
float* threadScratchFloats(size_t floats);

// Calls body(first, end) for consecutive ranges covering [0, blockCount),
// spread over all workers; returns when every range is done.
void runBlocksInParallel(size_t blockCount, const std::function<void(size_t, size_t)>& body);

}  // namespace cpu_runtime
