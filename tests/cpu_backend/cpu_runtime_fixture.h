// Tests of the CPU backend itself, which use the runtime's test hooks
// (fault injection, device lists, launch records): they cannot run on a GPU.
#pragma once

#include <string>

#include "cpu_backend/runtime/cpu_runtime_hooks.h"
#include "cpu_backend/dispatch/instruction_set_choice.h"
#include "tests/support/device_test_support.h"

// The hooks are disarmed before and after every test.
using CpuRuntimeTest = DeviceTest;

// Tests run once per compiled set of the kernels, named by the parameter
// (skipped where the processor lacks the set's instructions); the set in
// use before is restored after each.
class KernelSetTest : public CpuRuntimeTest, public testing::WithParamInterface<std::string> {
protected:
    void SetUp() override
    {
        CpuRuntimeTest::SetUp();
        if (!cpu_kernels::instructionSetSupported(GetParam()))
            GTEST_SKIP() << "this processor cannot run the " << GetParam() << " kernels";
        startUpSet_ = cpu_kernels::activeInstructionSet();
        ASSERT_TRUE(cpu_kernels::useInstructionSet(GetParam()));
    }
    void TearDown() override
    {
        if (!startUpSet_.empty()) cpu_kernels::useInstructionSet(startUpSet_);
        CpuRuntimeTest::TearDown();
    }

private:
    std::string startUpSet_;
};

// Instantiates a KernelSetTest suite for every compiled set.
#define INSTANTIATE_FOR_EVERY_KERNEL_SET(suite)                                                             \
    INSTANTIATE_TEST_SUITE_P(EveryInstructionSet, suite, testing::ValuesIn(cpu_kernels::compiledInstructionSets()), \
                             [](const testing::TestParamInfo<std::string>& set) { return set.param; })
