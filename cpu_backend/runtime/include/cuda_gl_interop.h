// CPU stand-in for the CUDA-OpenGL interop header. The GL buffer is mapped
// into host memory in the current context, so the CPU program draws through
// the same pixel-buffer path as the GPU program. Include an OpenGL loader
// header first, as with the toolkit's header.
#pragma once

#include "cuda_runtime_api.h"


cudaError_t cudaGLSetGLDevice(int device);
cudaError_t cudaGraphicsGLRegisterBuffer(cudaGraphicsResource_t* resource, unsigned int buffer, unsigned int flags);
