// Copies for the CPU runtime and its kernels that write whole cache lines
// straight to memory, as a GPU's copy engine does: the target is written
// without being read into the cache first, which spares a large copy a
// third of its memory traffic.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>

namespace cpu_runtime {

// Copies `count` bytes from src to dst, which must not overlap.
void copyBypassingCache(void* dst, const void* src, size_t count);

// Makes this thread's copies bypassing the cache visible to other threads
// (their stores are weakly ordered); call before handing the data on.
void finishCopiesBypassingCache();

}  // namespace cpu_runtime
