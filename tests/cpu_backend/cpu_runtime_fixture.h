// Tests of the CPU backend itself, which use the runtime's test hooks
// (fault injection, device lists, launch records): they cannot run on a GPU.
#pragma once

#include "cpu_backend/cpu_runtime_hooks.h"
#include "tests/support/device_test_support.h"

// The hooks are disarmed before and after every test.
using CpuRuntimeTest = DeviceTest;
