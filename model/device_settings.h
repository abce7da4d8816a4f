// The device constants a user may set at run time: the collision's
// relaxation factor and the depths the grey image draws black and white.
// Until one is set the kernels use their initial values, which are these
// defaults; setting a default back gives the same bits as never setting it.
#pragma once

// The relaxation factor omega = 1/tau of the collision, and the range a
// setting may take: where the model was seen to stay stable, with margin.
// On the 2688 x 1536 grid, 3,000 steps under the hardest rain the settings
// allow (chance 0.5, radius 256, strength 0.0004) stayed finite at 0.1, 0.2,
// 0.5, 1.2 (with strength -0.0004 too), 1.3 and 1.4, the volume within 6e-5
// of the start; at 1.5, 1.7 and 1.9 the water turned to NaN. Under the
// default rain 0.1 and 1.9 stayed finite. Lower factors make the water more
// viscous.
constexpr float kDefaultRelaxation = 0.6666667f;
constexpr float kSmallestRelaxation = 0.2f;
constexpr float kLargestRelaxation = 1.2f;

// The depths drawn black and white by default: the still-water depth
// 0.05 -+ 0.0005. A setting must keep 0 < black < white <= kDeepestDrawnDepth,
// twice the still-water depth, far beyond any depth the rain raises.
constexpr float kDefaultBlackDepth = 0.0495f;
constexpr float kDefaultWhiteDepth = 0.0505f;
constexpr float kDeepestDrawnDepth = 0.1f;

// Whether a setting may take these values (false for NaN and infinities).
constexpr bool isSettableRelaxation(float omega)
{
    return omega >= kSmallestRelaxation && omega <= kLargestRelaxation;
}

constexpr bool isSettableDepthRange(float blackDepth, float whiteDepth)
{
    return blackDepth > 0.0f && blackDepth < whiteDepth && whiteDepth <= kDeepestDrawnDepth;
}

// Writes the relaxation factor that every later collision uses (those
// launched before keep the old one). A value outside the range, or NaN, is
// refused with one line on standard error; a failed CUDA status is printed
// as the model's other operations print theirs (checkCudaStatus). False in
// both cases, and the factor is unchanged (unless the device cannot
// continue).
bool setRelaxationFactor(float omega);

// Writes the depths drawn black and white by every later image, as
// setRelaxationFactor writes the factor. Refused unless
// isSettableDepthRange. A failed status may leave the black depth alone
// written: only a device that cannot continue fails there.
bool setDepthRange(float blackDepth, float whiteDepth);
