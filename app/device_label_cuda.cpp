#include <cuda_runtime.h>

#include "device_label.h"

std::string deviceLabel()
{
    int device = 0;
    cudaDeviceProp properties{};
    if (cudaGetDevice(&device) != cudaSuccess || cudaGetDeviceProperties(&properties, device) != cudaSuccess) {
        cudaGetLastError();  // only a label: the frames must not see this status
        return "GPU";
    }
    return properties.name;
}
