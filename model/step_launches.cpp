// The model's kernel launches: collision, streaming, force decay, rain
// drops and the depth-to-pixel conversion, each checked for acceptance right
// after it is issued.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "kernels/kernel_launch.h"
#include "kernels/stream.h"
#include "water_model.h"

namespace {

// Threads per side of a rain drop's blocks.
constexpr int kDropBlockSide = 16;

// Drop centres are kept within +-2^30: any centre that far out lies wholly
// outside every grid, and the kernel's cell arithmetic cannot overflow.
constexpr float kFarthestCentre = 1073741824.0f;

// The drop's centre cell: the nearest whole number, halves away from zero.
// NaN and centres beyond the limit land far outside the grid, where the
// drop writes nothing, instead of being converted with undefined results.
int dropCentre(float coordinate)
{
    const float nearest = std::round(coordinate);
    if (std::isnan(nearest)) return -static_cast<int>(kFarthestCentre);
    return static_cast<int>(std::clamp(nearest, -kFarthestCentre, kFarthestCentre));
}

// k of a drop's (k + 1) x (k + 1) blocks, k = floor(2 * radius / 16), for a
// radius > 0. A huge radius gives more blocks than the runtime allows, so
// the launch fails and is reported.
int dropBlocksMinusOne(float radius)
{
    const float k = std::floor((radius + radius) * 0.0625f);
    return static_cast<int>(std::min(k, 65535.0f));
}

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
    // A drop of radius 0 would divide 0 by 0 at its centre and write NaN
    // into the forces, from where it spreads through the depth; a negative
    // or NaN radius means no drop at all. Refused as an invalid argument,
    // with no launch.
    if (!(radius > 0.0f)) {
        std::printf("CUDA Runtime API error %d: %s.\n", static_cast<int>(cudaErrorInvalidValue),
                    cudaGetErrorString(cudaErrorInvalidValue));
        return false;
    }
    const int column = dropCentre(x);
    const int row = dropCentre(y);
    // A square of 16(k + 1) threads per side always spans the disc.
    const int k = dropBlocksMinusOne(radius);
    launchRainDrop(dim3(k + 1, k + 1), dim3(kDropBlockSide, kDropBlockSide), column, row, radius, strength, fx, fy,
                   width, height);
    return checkLastCudaError();
}

cudaError_t WaterModel::writeDepthPixels(unsigned int* pixels)
{
    launchHeightMapToTexture(dim3(cellCount() / kCellBlockSize), dim3(kCellBlockSize), h, pixels);
    const cudaError_t status = cudaGetLastError();
    checkCudaStatus(status);
    return status;
}
