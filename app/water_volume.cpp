#include "water_volume.h"

#include <numeric>
#include <vector>

#include "kernels/device_constants.h"
#include "model/water_model.h"

bool measureWaterVolume(const WaterModel& model, double* volume)
{
    std::vector<float> depth(static_cast<size_t>(model.cellCount()));
    if (!checkCudaStatus(cudaMemcpy(depth.data(), model.h, depth.size() * sizeof(float), cudaMemcpyDeviceToHost)))
        return false;
    *volume = std::accumulate(depth.begin(), depth.end(), 0.0);
    return true;
}

bool WaterVolume::update(const WaterModel& model, int32_t step, bool paused)
{
    const Clock::time_point now = Clock::now();
    if (step == step_ || (!paused && measured_ && now - when_ < std::chrono::seconds(1))) return true;
    double volume = 0.0;
    if (!measureWaterVolume(model, &volume)) return false;
    // Still water holds the initial depth in every cell.
    const double stillWater = static_cast<double>(kInitialDepth) * model.cellCount();
    measured_ = true;
    step_ = step;
    when_ = now;
    volume_ = volume;
    drift_ = (volume - stillWater) / stillWater;
    return true;
}
