// Creation and release of the water model, and its status checks.
#include "water_model.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "kernels/device_constants.h"
#include "kernels/kernel_launch.h"

bool checkCudaStatus(cudaError_t status)
{
    if (status == cudaSuccess) return true;
    std::printf("CUDA Runtime API error %d: %s.\n", static_cast<int>(status), cudaGetErrorString(status));
    // A failed call also leaves its status as the runtime's last error. Now
    // that it is reported, take it off, so that the next launch check does
    // not report it again as a failure of its own.
    cudaGetLastError();
    return false;
}

bool checkLastCudaError()
{
    return checkCudaStatus(cudaGetLastError());
}

bool deviceCannotContinue()
{
    // Every failure is taken off the last error once it is reported; only a
    // sticky one is still there.
    return cudaPeekAtLastError() != cudaSuccess;
}

void reportDeviceCannotContinue()
{
    std::fprintf(stderr, "The CUDA device cannot continue after this error; the run ends.\n");
}

// Non-positive sizes and sizes whose product overflows are refused too.
bool isSupportedWaterModelSize(int width, int height)
{
    if (((width | height) & 15) != 0) return false;
    if (width <= 0 || height <= 0) return false;
    const long long cells = static_cast<long long>(width) * height;
    return cells % kCellCountMultiple == 0 && cells <= kMaxCellCount;
}

namespace {

bool allocateField(float** field, size_t bytes)
{
    return checkCudaStatus(cudaMalloc(reinterpret_cast<void**>(field), bytes));
}

}  // namespace

WaterModel* createWaterModel(int width, int height)
{
    if (!isSupportedWaterModelSize(width, height)) return nullptr;

    auto* model = static_cast<WaterModel*>(std::calloc(1, sizeof(WaterModel)));
    if (model == nullptr) return nullptr;
    model->width = width;
    model->height = height;

    const size_t cells = static_cast<size_t>(model->cellCount());
    const size_t scalarBytes = cells * sizeof(float);
    const size_t distributionBytes = cells * kDirections * sizeof(float);
    const bool allocated = allocateField(&model->h, scalarBytes) && allocateField(&model->fx, scalarBytes) &&
                           allocateField(&model->fy, scalarBytes) &&
                           allocateField(&model->f, distributionBytes) &&
                           allocateField(&model->fStream, distributionBytes);
    if (allocated && model->restart()) return model;
    destroyWaterModel(model);
    return nullptr;
}

bool WaterModel::restart()
{
    return launchAndCheck(launchInitWaterLB, dim3(cellCount() / kCellBlockSize), dim3(kCellBlockSize), h, fx, fy);
}

void destroyWaterModel(WaterModel* model)
{
    if (model == nullptr) return;
    for (float* buffer : {model->h, model->fx, model->fy, model->f, model->fStream}) {
        if (buffer != nullptr) checkCudaStatus(cudaFree(buffer));
    }
    // Only a registration that was made is undone: a failed registration
    // leaves the buffer recorded but no resource to unregister.
    if (model->graphicsResource != nullptr) checkCudaStatus(cudaGraphicsUnregisterResource(model->graphicsResource));
    std::free(model);
}

void forgetWaterModel(WaterModel* model)
{
    std::free(model);
}
