// A graphics buffer registered with the CPU runtime.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cuda_runtime_api.h>

#include <cstddef>

struct cudaGraphicsResource {
    unsigned int buffer = 0;  // the graphics API's name of the buffer
    void* mapped = nullptr;   // its host address while mapped
    size_t size = 0;          // its size while mapped
    // Unmaps the buffer in its graphics API; set by the code that registered
    // it, so that the runtime itself needs no graphics API.
    cudaError_t (*unmap)(cudaGraphicsResource*) = nullptr;
};
