// One simulation step: the launches of collision, streaming, force decay and
// rain drops, each checked for acceptance right after it is issued.
#include <cmath>

#include "kernels/kernel_launch.h"
#include "kernels/stream.h"
#include "water_model.h"

namespace {

// Threads per side of a rain drop's blocks.
constexpr int kDropBlockSide = 16;

}  // namespace

bool WaterModel::collide(bool notFirstFrame)
{
    launchCollision3(dim3(cellCount() / kCellBlockSize), dim3(kCellBlockSize), f, fx, fy, h, notFirstFrame);
    return checkLastCudaError();
}

bool WaterModel::stream()
{
    launchStream(dim3(width / kStreamTile, height / kStreamTile), dim3(kStreamTileWithBorder, kStreamTileWithBorder),
                 f, fStream);
    return checkLastCudaError();
}

void WaterModel::swapDistributions()
{
    float* streamed = fStream;
    fStream = f;
    f = streamed;
}

bool WaterModel::decayForces()
{
    const dim3 grid(cellCount() / kCellBlockSize);
    launchIncrementForce(grid, dim3(kCellBlockSize), fx);
    if (!checkLastCudaError()) return false;
    launchIncrementForce(grid, dim3(kCellBlockSize), fy);
    return checkLastCudaError();
}

bool WaterModel::addRainDrop(float x, float y, float strength, float radius)
{
    const int column = static_cast<int>(std::round(x));  // halves away from zero
    const int row = static_cast<int>(std::round(y));
    // A square of 16(k + 1) threads per side always spans the disc.
    const int k = static_cast<int>(std::floor((radius + radius) * 0.0625f));
    launchRainDrop(dim3(k + 1, k + 1), dim3(kDropBlockSide, kDropBlockSide), column, row, radius, strength, fx, fy,
                   width, height);
    return checkLastCudaError();
}
