// Between tests on the CPU backend: no armed failures, the default device
// list, no launch recording and no pending last error.
#include "cpu_backend/runtime/cpu_runtime_hooks.h"
#include "device_test_support.h"

void resetBackendTestState()
{
    cpu_runtime::clearFailures();
    cpu_runtime::resetDevices();
    cpu_runtime::recordLaunches(false);
    cpu_runtime::clearRecordedLaunches();
    cudaGetLastError();
}
