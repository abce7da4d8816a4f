// Between tests on the GPU: only the last error can be left over.
#include "device_test_support.h"

void resetBackendTestState()
{
    cudaGetLastError();
}
