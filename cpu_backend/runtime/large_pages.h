// Large pages for big device allocations. The kernels stream through
// arrays of about 150 MB in several places at once; with 4 KiB pages every
// few kilobytes of each stream costs a page-table walk, which on this
// backend measurably slows the streaming kernel.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>

namespace cpu_runtime {

// Allocations of at least this many bytes start on a large-page boundary.
constexpr size_t kLargePageBytes = size_t{2} << 20;

// Asks the operating system to back [start, start + bytes) with large
// pages where it can. Only advice: where it is not followed, or on a system
// without it, the memory is the same, only slower to walk.
void adviseLargePages(void* start, size_t bytes);

}  // namespace cpu_runtime
