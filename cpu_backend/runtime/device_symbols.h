// The device symbols the CPU runtime knows: the globals that the symbol
// copies may read and write, each with its size, as a CUDA module registers
// its __device__ and __constant__ variables when it loads. Any other
// address is cudaErrorInvalidSymbol, as on a GPU.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstddef>

namespace cpu_runtime {

void registerDeviceSymbol(const void* symbol, size_t bytes);

// The size of a registered symbol; 0 for any other address.
size_t deviceSymbolBytes(const void* symbol);

// Registers a symbol when the object is made: a namespace-scope
// DeviceSymbol beside the global registers it before main.
struct DeviceSymbol {
    DeviceSymbol(const void* symbol, size_t bytes) { registerDeviceSymbol(symbol, bytes); }
};

}  // namespace cpu_runtime
