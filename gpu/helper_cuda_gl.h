// The explicitly requested CUDA device, bound to the current OpenGL context.
#pragma once

// Binds the device that the "device=" option names (0 when it names none or
// a negative one) for interoperability with the current GL context, and
// prints "Using device ..." on standard error unless the "quiet" flag is
// given. Returns the ordinal, or a negative value when the device does not
// exist or is prohibited. Ends the process with status 1 when a CUDA query
// or the binding fails, or the device does not support CUDA.
int gpuGLDeviceInit(int argc, const char* const* argv);
