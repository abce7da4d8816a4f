// Included first by every header of the CPU backend's own folders
// (runtime/, kernels/, dispatch/). What they declare is the backend's
// business: the programs see the CUDA runtime's headers and <cpu_backend.h>
// alone (runtime/include/). The backend's own targets, and the tests that
// look inside it, define CPU_BACKEND_INTERNALS.
#pragma once

#if !defined(CPU_BACKEND_INTERNALS)
#error "an internal header of the CPU backend: include <cuda_runtime.h> or <cpu_backend.h> instead"
#endif
