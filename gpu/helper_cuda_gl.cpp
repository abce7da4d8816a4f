// The explicit device choice: validate the requested device and bind it for
// CUDA-OpenGL interoperability.
#include "helper_cuda_gl.h"

#include <cuda_runtime.h>
// The interop header expects the GL declarations first.
#include <glad/gl.h>
#include <cuda_gl_interop.h>

#include <cstdio>
#include <cstdlib>

#include "helper_cuda.h"

int gpuGLDeviceInit(int argc, const char* const* argv)
{
    int deviceCount = 0;
    REQUIRE_CUDA_SUCCESS(cudaGetDeviceCount(&deviceCount));
    if (deviceCount == 0) {
        std::fprintf(stderr, "CUDA error: no devices supporting CUDA.\n");
        std::exit(1);
    }

    int dev = getDeviceArgument(argc, argv);
    if (dev < 0) dev = 0;
    if (dev > deviceCount - 1) {
        std::fprintf(stderr, "\n");
        std::fprintf(stderr, ">> %d CUDA capable GPU device(s) detected. <<\n", deviceCount);
        std::fprintf(stderr, ">> gpuGLDeviceInit (-device=%d) is not a valid GPU device. <<\n", dev);
        std::fprintf(stderr, "\n");
        return -dev;
    }

    cudaDeviceProp deviceProp;
    REQUIRE_CUDA_SUCCESS(cudaGetDeviceProperties(&deviceProp, dev));
    // Current runtimes report the compute mode as an attribute, not in the
    // properties record.
    int computeMode = cudaComputeModeDefault;
    REQUIRE_CUDA_SUCCESS(cudaDeviceGetAttribute(&computeMode, cudaDevAttrComputeMode, dev));
    if (computeMode == cudaComputeModeProhibited) {
        std::fprintf(stderr, "Error: device is running in <Compute Mode Prohibited>, no threads can use ::cudaSetDevice().\n");
        return -1;
    }
    if (deviceProp.major < 1) {
        std::fprintf(stderr, "Error: device does not support CUDA.\n");
        std::exit(1);
    }

    if (!hasCommandLineFlag(argc, argv, "quiet")) std::fprintf(stderr, "Using device %d: %s\n", dev, deviceProp.name);
    REQUIRE_CUDA_SUCCESS(cudaGLSetGLDevice(dev));
    return dev;
}
