// How the CPU runtime launches a kernel: validation as the CUDA runtime does
// it, and the spreading of blocks over every hardware thread. The per-thread
// loops live with the kernels (cpu_backend/kernels/).
#pragma once

#include <cuda_runtime_api.h>

#include <cstddef>
#include <functional>
#include <initializer_list>
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

// A buffer of at least `floats` floats on a 64-byte boundary, this
// thread's own, kept (and grown as needed) between calls so that a worker's
// rows allocate nothing frame after frame. Each use has a buffer of its
// own: a thread that hands out work may take part in it. Held here,
// compiled once, not in the kernel sets: a container instantiated there
// would be emitted by every set and shared between them.
enum class ScratchUse { kWorkerRows, kSharedRows, kCount };
float* threadScratchFloats(size_t floats, ScratchUse use = ScratchUse::kWorkerRows);

// Calls body(first, end) for consecutive ranges covering [0, blockCount),
// spread over all workers; returns when every range is done.
void runBlocksInParallel(size_t blockCount, const std::function<void(size_t, size_t)>& body);

// Accepted launches may wait in a queue, as they do in a GPU's stream, so
// that the kernels can run several of them in one pass over memory; and the
// kernels may leave values owed (recoverable, not yet stored) where nothing
// has looked at them yet. The kernels install the function that runs what
// waits; every runtime call that touches device memory, waits for the
// device or reads its clock runs it first, so no caller ever sees a launch
// that has not yet run, or a value not yet stored.

// Device memory that a call is about to read, or write; or, reported once
// the call is done, that it has filled with zero bytes.
struct DeviceSpan {
    const void* begin;
    size_t bytes;
    bool written;
    bool zeroed = false;
};

// The runner: runs what waits, then makes good whatever is owed in
// `spans`, or anywhere in device memory.
using QueuedLaunchRunner = void (*)(const DeviceSpan* spans, size_t count, bool anywhere);
void setQueuedLaunchRunner(QueuedLaunchRunner runner);

// Before a call that may see any device memory (a synchronisation, after
// which the host may read anything; a reset).
void runQueuedLaunches();

// Before a call that touches only these spans (none: no device memory, as
// an event record or the mapping of a graphics buffer).
void runQueuedLaunchesTouching(std::initializer_list<DeviceSpan> spans);

}  // namespace cpu_runtime
