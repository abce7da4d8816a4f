// The automatic choice of the fastest device, its table of cores per
// multiprocessor, and the explicitly requested device, on device lists set
// through the CPU runtime's hooks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "argument_vector.h"
#include "gpu/helper_cuda.h"
#include "gpu/helper_cuda_gl.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"
#include "tests/support/emulator.h"

namespace {

using cpu_runtime::EmulatedDevice;

EmulatedDevice device(const char* name, int major, int minor, int multiprocessors, int clockKHz,
                      int computeMode = cudaComputeModeDefault)
{
    EmulatedDevice d;
    d.name = name;
    d.major = major;
    d.minor = minor;
    d.multiProcessorCount = multiprocessors;
    d.clockRateKHz = clockKHz;
    d.computeMode = computeMode;
    return d;
}

std::string undefinedLine(int major, int minor)
{
    return "MapSMtoCores for SM " + std::to_string(major) + "." + std::to_string(minor) +
           " is undefined.  Default to use 128 Cores/SM\n";
}

// Death tests re-run the test binary rather than fork it: the CPU runtime
// has worker threads.
class DeviceChoiceTest : public CpuRuntimeTest {
protected:
    void SetUp() override
    {
        CpuRuntimeTest::SetUp();
        // A death test's child runs the program again from its start; under
        // an emulator the system cannot start the program itself, so there
        // the child is forked as the process stands.
        GTEST_FLAG_SET(death_test_style, runsUnderEmulator() ? "fast" : "threadsafe");
    }
};

TEST(MapSMtoCores, KnowsTheTabulatedArchitecturesWithoutAWord)
{
    struct Row {
        int major, minor, cores;
    };
    const Row rows[] = {{2, 0, 32},  {2, 1, 48},  {3, 0, 192}, {3, 2, 192},
                        {3, 5, 192}, {3, 7, 192}, {5, 0, 128}, {5, 2, 128}};
    testing::internal::CaptureStdout();
    for (const Row& row : rows) EXPECT_EQ(MapSMtoCores(row.major, row.minor), row.cores) << row.major << "." << row.minor;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(MapSMtoCores, GivesOtherArchitectures128CoresAfterALineOnStandardOutput)
{
    const int versions[][2] = {{6, 1}, {3, 1}, {1, 0}, {0, 0}, {-1, 5}, {9999, 9999}, {INT_MAX, INT_MAX}};
    for (const auto& version : versions) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(MapSMtoCores(version[0], version[1]), 128);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), undefinedLine(version[0], version[1]));
    }
}

using GpuGetMaxGflopsDeviceId = DeviceChoiceTest;

TEST_F(GpuGetMaxGflopsDeviceId, OnlyTheNewestMajorArchitectureCompetes)
{
    // 3.5: 2 x 100 x 192 = 38400; 5.2: 1 x 100 x 128 = 12800.
    cpu_runtime::setDevices({device("Kepler", 3, 5, 2, 100), device("Maxwell", 5, 2, 1, 100)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);

    // Within the newest major version the minor version does not matter.
    cpu_runtime::setDevices({device("5.2", 5, 2, 2, 100), device("5.0", 5, 0, 3, 100), device("3.0", 3, 0, 9, 900)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
}

TEST_F(GpuGetMaxGflopsDeviceId, EqualRatingsGoToTheLowerOrdinal)
{
    cpu_runtime::setDevices({device("weak", 5, 2, 1, 100), device("first", 5, 2, 4, 100), device("second", 5, 0, 2, 200),
                             device("third", 5, 2, 4, 100)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
}

TEST_F(GpuGetMaxGflopsDeviceId, SkipsProhibitedDevicesAlsoWhenFindingTheNewestArchitecture)
{
    cpu_runtime::setDevices({device("3.0", 3, 0, 1, 100), device("3.5", 3, 5, 8, 100),
                             device("5.2 prohibited", 5, 2, 64, 100, cudaComputeModeProhibited)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);

    cpu_runtime::setDevices({device("fast prohibited", 5, 2, 64, 100, cudaComputeModeProhibited),
                             device("exclusive", 5, 2, 2, 100, cudaComputeModeExclusive),
                             device("exclusive process", 5, 2, 1, 100, cudaComputeModeExclusiveProcess)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
}

TEST_F(GpuGetMaxGflopsDeviceId, RatesVersion9999Point9999WithOneCore)
{
    // Without architecture 3 or newer every device competes: 10 x 1000 x 1
    // loses to 1 x 1000 x 32, which it would beat with 128 cores.
    cpu_runtime::setDevices({device("emulated", 9999, 9999, 10, 1000), device("Fermi", 2, 0, 1, 1000)});
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    cpu_runtime::setDevices({device("Fermi", 2, 0, 1, 1000), device("emulated", 9999, 9999, 33, 1000)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
}

TEST_F(GpuGetMaxGflopsDeviceId, ReportsEveryUsableDeviceOfAnUnknownArchitectureOnce)
{
    cpu_runtime::setDevices({device("6.1", 6, 1, 1, 100), device("5.2", 5, 2, 1, 100),
                             device("6.1 prohibited", 6, 1, 1, 100, cudaComputeModeProhibited),
                             device("7.5", 7, 5, 1, 100), device("another 6.1", 6, 1, 1, 100)});
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), undefinedLine(6, 1) + undefinedLine(7, 5) + undefinedLine(6, 1));
}

TEST_F(GpuGetMaxGflopsDeviceId, NeverChoosesADeviceWhosePropertiesCannotBeRead)
{
    cpu_runtime::setDevices({device("unreadable", 5, 2, 64, 1000), device("readable", 5, 2, 1, 1000)});
    cpu_runtime::failCall("cudaGetDeviceProperties", 1, cudaErrorInvalidDevice);
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(GpuGetMaxGflopsDeviceId, HandlesRatingsBeyond32Bits)
{
    // 65536 x 2000000 x 128 needs 44 bits.
    cpu_runtime::setDevices({device("big", 5, 2, 65536, 2000000), device("bigger", 5, 2, 65536, 2000001)});
    EXPECT_EQ(gpuGetMaxGflopsDeviceId(), 1);
}

TEST_F(GpuGetMaxGflopsDeviceId, EndsTheProcessWhenNoDeviceIsUsable)
{
    cpu_runtime::setDevices({device("a", 5, 2, 1, 100, cudaComputeModeProhibited),
                             device("b", 3, 5, 1, 100, cudaComputeModeProhibited)});
    EXPECT_EXIT(gpuGetMaxGflopsDeviceId(), testing::ExitedWithCode(1),
                testing::Eq("gpuGetMaxGflopsDeviceId() CUDA error: all devices have compute mode prohibited.\n"));

    // The runtime reports an empty device list as a failed count query.
    cpu_runtime::setDevices({});
    EXPECT_EXIT(gpuGetMaxGflopsDeviceId(), testing::ExitedWithCode(1),
                testing::AllOf(testing::StartsWith("CUDA error at "),
                               testing::HasSubstr("helper_cuda.cpp:"),
                               testing::EndsWith(" code=100(cudaErrorNoDevice) \"cudaGetDeviceCount(&device_count)\" \n")));
}

using GpuGLDeviceInit = DeviceChoiceTest;

TEST_F(GpuGLDeviceInit, BindsTheRequestedDeviceAndNamesIt)
{
    cpu_runtime::setDevices({device("First GPU", 5, 2, 1, 100), device("Second GPU", 3, 0, 1, 100)});
    const ArgumentVector second({"-device=1"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(gpuGLDeviceInit(second.argc(), second.argv()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Using device 1: Second GPU\n");

    const ArgumentVector quiet({"-device=1", "--QUIET"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(gpuGLDeviceInit(quiet.argc(), quiet.argv()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(GpuGLDeviceInit, TakesDeviceZeroForMissingOrNegativeOrdinals)
{
    cpu_runtime::setDevices({device("First GPU", 5, 2, 1, 100), device("Second GPU", 5, 2, 9, 100)});
    for (const char* argument : {"-device", "-device=", "-device=abc", "-device=-3", "-device=-99999999999"}) {
        const ArgumentVector args({argument});
        testing::internal::CaptureStderr();
        EXPECT_EQ(gpuGLDeviceInit(args.argc(), args.argv()), 0) << argument;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Using device 0: First GPU\n") << argument;
    }
}

TEST_F(GpuGLDeviceInit, RefusesOrdinalsBeyondTheLastDevice)
{
    cpu_runtime::setDevices({device("Only GPU", 5, 2, 1, 100)});
    const ArgumentVector one({"-device=1"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(gpuGLDeviceInit(one.argc(), one.argv()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n>> 1 CUDA capable GPU device(s) detected. <<\n"
              ">> gpuGLDeviceInit (-device=1) is not a valid GPU device. <<\n\n");

    const ArgumentVector huge({"-device=123456789012345678901234567890"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(gpuGLDeviceInit(huge.argc(), huge.argv()), -INT_MAX);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n>> 1 CUDA capable GPU device(s) detected. <<\n"
              ">> gpuGLDeviceInit (-device=2147483647) is not a valid GPU device. <<\n\n");
}

TEST_F(GpuGLDeviceInit, RefusesAProhibitedDevice)
{
    cpu_runtime::setDevices({device("Usable", 5, 2, 1, 100), device("Prohibited", 5, 2, 1, 100, cudaComputeModeProhibited)});
    const ArgumentVector args({"-device=1"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(gpuGLDeviceInit(args.argc(), args.argv()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: device is running in <Compute Mode Prohibited>, no threads can use ::cudaSetDevice().\n");
}

TEST_F(GpuGLDeviceInit, EndsTheProcessOnDevicesWithoutCudaAndOnFailedCalls)
{
    cpu_runtime::setDevices({device("No CUDA", 0, 0, 1, 100)});
    const ArgumentVector first({"-device=0"});
    EXPECT_EXIT(gpuGLDeviceInit(first.argc(), first.argv()), testing::ExitedWithCode(1),
                testing::Eq("Error: device does not support CUDA.\n"));

    cpu_runtime::setDevices({device("GPU", 5, 2, 1, 100)});
    cpu_runtime::failCall("cudaGLSetGLDevice", 1, cudaErrorInvalidGraphicsContext);
    EXPECT_EXIT(gpuGLDeviceInit(first.argc(), first.argv()), testing::ExitedWithCode(1),
                testing::AllOf(testing::StartsWith("Using device 0: GPU\nCUDA error at "),
                               testing::HasSubstr("helper_cuda_gl.cpp:"),
                               testing::EndsWith(" code=219(cudaErrorInvalidGraphicsContext) \"cudaGLSetGLDevice(dev)\" \n")));

    cpu_runtime::clearFailures();
    cpu_runtime::failCall("cudaGetDeviceProperties", 1, cudaErrorInitializationError);
    EXPECT_EXIT(gpuGLDeviceInit(first.argc(), first.argv()), testing::ExitedWithCode(1),
                testing::EndsWith(" code=3(cudaErrorInitializationError) \"cudaGetDeviceProperties(&deviceProp, dev)\" \n"));

    cpu_runtime::setDevices({});
    EXPECT_EXIT(gpuGLDeviceInit(first.argc(), first.argv()), testing::ExitedWithCode(1),
                testing::EndsWith(" code=100(cudaErrorNoDevice) \"cudaGetDeviceCount(&deviceCount)\" \n"));
}

}  // namespace
