// The one hook between the CPU runtime and the kernels it runs. A GPU runs a
// stream's launches later, in order; the CPU kernels may do the same (a
// step's launches wait and then run as one pass) and may store a buffer's
// values later than a launch would. So, before every runtime call that
// touches device memory, waits for the device or reads its clock, the
// runtime tells the hook what memory the call is about to touch; the hook
// runs whatever waits, and stores what that memory holds. A wait touches
// no memory (the host reads device memory only through a copy), so it
// stores nothing. The runtime knows nothing of what the kernels keep
// waiting.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>
#include <initializer_list>

namespace cpu_runtime {

// Device memory that a call is about to read, or write.
struct MemoryUse {
    const void* begin;
    size_t bytes;
    bool written;
};

using MemoryAccessHook = void (*)(const MemoryUse* uses, size_t count);
void setMemoryAccessHook(MemoryAccessHook hook);

// Before a call that touches only these ranges (none: no device memory, as
// a synchronisation, an event record or the mapping of a graphics buffer).
void beforeAccess(std::initializer_list<MemoryUse> uses);

}  // namespace cpu_runtime
