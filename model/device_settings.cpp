// The settable device constants, written through the backend's copies to
// their symbols (kernels/kernel_launch.h).
#include "device_settings.h"

#include <cstdio>

#include "kernels/device_constants.h"
#include "kernels/kernel_launch.h"
#include "water_model.h"

// The defaults are the kernels' initial values: with no setting made, or a
// default set back, the kernels compute exactly what they always did.
static_assert(kDefaultRelaxation == kInitialRelaxationFactor, "the default relaxation is c_omega's initial value");
static_assert(kDefaultBlackDepth == kInitialBlackDepth, "the default black depth is c_minHeight's initial value");
static_assert(kDefaultWhiteDepth == kInitialWhiteDepth, "the default white depth is c_maxHeight's initial value");
static_assert(isSettableRelaxation(kDefaultRelaxation) && isSettableDepthRange(kDefaultBlackDepth, kDefaultWhiteDepth),
              "the defaults may be set back");

bool setRelaxationFactor(float omega)
{
    if (!isSettableRelaxation(omega)) {
        std::fprintf(stderr, "Relaxation factor %g refused: it must be from %g to %g.\n", static_cast<double>(omega),
                     static_cast<double>(kSmallestRelaxation), static_cast<double>(kLargestRelaxation));
        return false;
    }
    return checkCudaStatus(writeRelaxationFactor(omega));
}

bool setDepthRange(float blackDepth, float whiteDepth)
{
    if (!isSettableDepthRange(blackDepth, whiteDepth)) {
        std::fprintf(stderr, "Depth range %g to %g refused: it must have 0 < black < white <= %g.\n",
                     static_cast<double>(blackDepth), static_cast<double>(whiteDepth),
                     static_cast<double>(kDeepestDrawnDepth));
        return false;
    }
    return checkCudaStatus(writeDepthRange(blackDepth, whiteDepth));
}
