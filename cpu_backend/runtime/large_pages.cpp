// The one platform-specific call of the CPU runtime.
#include "large_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace cpu_runtime {

void adviseLargePages(void* start, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Transparent huge pages are often enabled "on advice" only. A refusal
    // (older kernel, feature off) leaves ordinary pages: nothing to report.
    (void)madvise(start, bytes, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

}  // namespace cpu_runtime
