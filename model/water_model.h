// The water model: the host record that owns every device buffer of the
// simulation, and the operations that advance and display it.
#pragma once

#include <cuda_runtime.h>

// The collision's start, notFirstFrame (the kernel's fInitialized).
constexpr bool kFromStillWater = false;
constexpr bool kFromDistributions = true;

// A plain record, created zero-filled by createWaterModel.
struct WaterModel {
    int width;   // cells per row, a multiple of 16
    int height;  // rows, a multiple of 16
    float* h;        // depth per cell
    float* f;        // current distributions, nine per cell, cell-major
    float* fStream;  // streaming target, exchanged with f every step
    float* fx;       // x component of the external force per cell
    float* fy;       // y component of the external force per cell
    unsigned int pixelBuffer;                 // GL buffer registered for display output; 0 = none
    cudaGraphicsResource_t graphicsResource;  // its CUDA registration; null = none

    int cellCount() const { return width * height; }

    // One simulation step, in this order (each returns false after printing
    // the failing status; the model stays usable). notFirstFrame says
    // whether f holds the previous step's distributions: kFromDistributions,
    // or kFromStillWater in the first step after creation or a restart.
    bool collide(bool notFirstFrame);
    bool stream();
    void swapDistributions();
    bool decayForces();
    bool addRainDrop(float x, float y, float strength, float radius);

    // Still water of depth 0.05 and no force, as at creation: with the next
    // collide told kFromStillWater, the steps that follow are
    // those of a new model. False after printing the failing status.
    bool restart();

    // Display output through a GL pixel buffer shared with CUDA.
    bool registerPixelBuffer(unsigned int pbo);
    bool updateDisplay();

    // Writes one grey pixel word per cell of the depth into pixels
    // (cellCount words of device memory). Returns the launch's last-error
    // status, already reported when it is a failure.
    cudaError_t writeDepthPixels(unsigned int* pixels);
};

// Threads per block of the one-dimensional kernels, one thread per cell.
constexpr int kCellBlockSize = 576;
// A model's cell count must be a multiple of this.
constexpr int kCellCountMultiple = 1152;
// Cell indices are formed with 24-bit multiplies: at most 2^23 cells.
constexpr long long kMaxCellCount = 1LL << 23;

// Whether the kernels cover a width x height grid exactly: multiples of 16
// on both axes, a cell count that is a multiple of kCellCountMultiple and
// at most kMaxCellCount.
bool isSupportedWaterModelSize(int width, int height);

// Allocates a model of width x height cells in its initial state (still
// water of depth 0.05, no force). Returns null for sizes the kernels cannot
// cover exactly (silently) or after printing a failed CUDA status.
WaterModel* createWaterModel(int width, int height);

// Frees every buffer and the display registration; null is allowed.
void destroyWaterModel(WaterModel* model);

// Frees the record alone, for a model whose device cannot continue: every
// call that would free its buffers fails there, and they go with the
// process. Null is allowed.
void forgetWaterModel(WaterModel* model);

// True for cudaSuccess; otherwise prints "CUDA Runtime API error ..." on
// standard output, takes the reported status off the runtime's last error,
// and returns false.
bool checkCudaStatus(cudaError_t status);

// checkCudaStatus of the runtime's last error, which it also clears.
bool checkLastCudaError();

// Issues one launch and checks at once that it was accepted, as every
// operation of the model does: false, with the status printed, when the
// runtime refused it.
template <typename... Parameters, typename... Arguments>
bool launchAndCheck(void (*launcher)(dim3, dim3, Parameters...), dim3 grid, dim3 block, Arguments... arguments)
{
    launcher(grid, block, arguments...);
    return checkLastCudaError();
}

// After a reported failure: whether the device can run nothing more. Some
// errors (an illegal address, a launch failure, a lost device...) leave the
// CUDA context unusable; the runtime then returns them to every later call,
// and taking the last error off does not clear them. Steps cannot go on
// after such an error.
bool deviceCannotContinue();

// The line, on standard error, that ends a run after such an error.
void reportDeviceCannotContinue();
