// The GL pixel buffer shared with CUDA: its registration, and each
// displayed frame's mapping around the depth-to-pixels write
// (display_output.cpp), so that the pixels go straight into the buffer.
#include <glad/gl.h>

#include <cuda_gl_interop.h>

#include "water_model.h"

bool WaterModel::registerPixelBuffer(unsigned int pbo)
{
    pixelBuffer = pbo;
    if (checkCudaStatus(cudaGraphicsGLRegisterBuffer(&graphicsResource, pbo, cudaGraphicsRegisterFlagsNone)))
        return true;
    graphicsResource = nullptr;  // whatever a failed call left there is no registration
    return false;
}

bool WaterModel::updateDisplay()
{
    cudaError_t status = cudaGraphicsMapResources(1, &graphicsResource, nullptr);
    if (status != cudaSuccess) {
        checkCudaStatus(status);
        checkCudaStatus(status);
    } else {
        void* pixels = nullptr;
        size_t mappedBytes = 0;
        status = cudaGraphicsResourceGetMappedPointer(&pixels, &mappedBytes, graphicsResource);
        if (status != cudaSuccess) {
            checkCudaStatus(status);
        } else {
            status = writeDepthPixels(static_cast<unsigned int*>(pixels));
        }
    }
    // Unmapping hands the pixels to GL; it is done even after a failure and
    // its own failure does not change the result.
    checkCudaStatus(cudaGraphicsUnmapResources(1, &graphicsResource, nullptr));
    return checkCudaStatus(status);
}
