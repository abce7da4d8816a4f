// CPU stand-in for the CUDA runtime header: the runtime API, and the
// templates that copy to and from a device symbol.
#pragma once

#include "cuda_runtime_api.h"

// As in the CUDA runtime: copies count bytes to the symbol, from `offset`
// bytes into it, ordered after every launch issued before (on the CPU,
// whatever waits to run runs first). A range beyond the symbol is
// cudaErrorInvalidValue; a variable that is no device symbol (the kernels'
// settable constants are) is cudaErrorInvalidSymbol.
template <class T>
cudaError_t cudaMemcpyToSymbol(const T& symbol, const void* src, size_t count = sizeof(T), size_t offset = 0,
                               cudaMemcpyKind kind = cudaMemcpyHostToDevice)
{
    return ::cudaMemcpyToSymbol(static_cast<const void*>(&symbol), src, count, offset, kind);
}

template <class T>
cudaError_t cudaMemcpyFromSymbol(void* dst, const T& symbol, size_t count = sizeof(T), size_t offset = 0,
                                 cudaMemcpyKind kind = cudaMemcpyDeviceToHost)
{
    return ::cudaMemcpyFromSymbol(dst, static_cast<const void*>(&symbol), count, offset, kind);
}
