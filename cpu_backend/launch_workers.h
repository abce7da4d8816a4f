// How the CPU runtime launches a kernel: validation as the CUDA runtime does
// it, and the spreading of blocks over every hardware thread. The per-thread
// loops live with the kernels (cpu_backend/kernels/).
#pragma once

#include <cuda_runtime_api.h>

#include <cstddef>
#include <functional>

namespace cpu_runtime {

struct KernelInfo {
    const char* name;
    size_t staticSharedBytes;
};

// Checks the launch shape and the kernel's shared memory against the
// device's limits and records the launch. A rejected launch records its
// status as the last error and returns false.
bool acceptLaunch(const KernelInfo& kernel, dim3 grid, dim3 block);

// Calls body(first, end) for consecutive ranges covering [0, blockCount),
// spread over all workers; returns when every range is done.
void runBlocksInParallel(size_t blockCount, const std::function<void(size_t, size_t)>& body);

}  // namespace cpu_runtime
