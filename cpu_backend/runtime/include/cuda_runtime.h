// CPU stand-in for the CUDA runtime header: the runtime API is all the
// program uses from it.
#pragma once

#include "cuda_runtime_api.h"
