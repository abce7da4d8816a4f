// The display output of a frame: the depth as one grey pixel word a cell
// (kHeightMapToTexture), written into device memory that is the GL pixel
// buffer in the window (pixel_buffer.cpp) and a plain buffer in the
// headless runner.
#include "kernels/kernel_launch.h"
#include "water_model.h"

cudaError_t WaterModel::writeDepthPixels(unsigned int* pixels)
{
    launchHeightMapToTexture(dim3(cellCount() / kCellBlockSize), dim3(kCellBlockSize), h, pixels);
    const cudaError_t status = cudaGetLastError();
    checkCudaStatus(status);
    return status;
}
