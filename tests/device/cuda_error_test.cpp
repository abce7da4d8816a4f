// The table of CUDA status names and the fatal check of a CUDA call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "gpu/helper_cuda.h"
#include "tests/test_support.h"

namespace {

TEST(CudaErrorEnumName, NamesEightyStatusesAndNothingElse)
{
    std::set<std::string> names;
    int known = 0;
    for (int code = -20000; code <= 20000; ++code) {
        const std::string name = cudaErrorEnumName(code);
        if (name == "<unknown>") continue;
        ++known;
        names.insert(name);
        EXPECT_EQ(name.rfind("cuda", 0), 0u) << code;
    }
    EXPECT_EQ(known, 80);
    EXPECT_EQ(names.size(), 80u);  // no name given twice
}

TEST(CudaErrorEnumName, EdgesOfTheTable)
{
    EXPECT_STREQ(cudaErrorEnumName(0), "cudaSuccess");
    EXPECT_STREQ(cudaErrorEnumName(999), "cudaErrorUnknown");
    EXPECT_STREQ(cudaErrorEnumName(10000), "cudaErrorApiFailureBase");
    for (int code : {-1, 10, 34, 201, 10001, INT_MIN, INT_MAX})
        EXPECT_STREQ(cudaErrorEnumName(code), "<unknown>") << code;
}

// The names must be the runtime's own enumerators for the same numbers.
#define EXPECT_NAMED_AS_THE_RUNTIME(status) EXPECT_STREQ(cudaErrorEnumName(status), #status)

TEST(CudaErrorEnumName, AgreesWithTheRuntimesEnumerators)
{
    EXPECT_NAMED_AS_THE_RUNTIME(cudaSuccess);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidValue);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorMemoryAllocation);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInitializationError);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorCudartUnloading);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidConfiguration);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidPitchValue);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidSymbol);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidHostPointer);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidDevicePointer);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidMemcpyDirection);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInsufficientDriver);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorDevicesUnavailable);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorMissingConfiguration);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidDeviceFunction);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorNoDevice);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidDevice);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorStartupFailure);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidKernelImage);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorMapBufferObjectFailed);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorUnmapBufferObjectFailed);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorNoKernelImageForDevice);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidGraphicsContext);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorOperatingSystem);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorInvalidResourceHandle);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorNotReady);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorIllegalAddress);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorLaunchOutOfResources);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorLaunchTimeout);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorLaunchFailure);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorNotPermitted);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorNotSupported);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorUnknown);
    EXPECT_NAMED_AS_THE_RUNTIME(cudaErrorApiFailureBase);
}

class RequireCudaSuccess : public CpuRuntimeTest {
protected:
    void SetUp() override
    {
        CpuRuntimeTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(RequireCudaSuccess, ReturnsSilentlyOnSuccess)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    requireCudaSuccess(cudaSuccess, "cudaSetDevice(0)", "helper.cpp", 1);
    REQUIRE_CUDA_SUCCESS(cudaSetDevice(0));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(RequireCudaSuccess, PrintsTheFailedCallAndEndsWithStatus1)
{
    EXPECT_EXIT(requireCudaSuccess(static_cast<cudaError_t>(10), "cudaFree(p)", "gpu/some_file.cpp", 42),
                testing::ExitedWithCode(1), testing::Eq("CUDA error at gpu/some_file.cpp:42 code=10(<unknown>) \"cudaFree(p)\" \n"));
    EXPECT_EXIT(requireCudaSuccess(static_cast<cudaError_t>(10001), "f()", "x.cpp", 7), testing::ExitedWithCode(1),
                testing::Eq("CUDA error at x.cpp:7 code=10001(<unknown>) \"f()\" \n"));
    EXPECT_EXIT(requireCudaSuccess(cudaErrorUnknown, "f()", "x.cpp", 7), testing::ExitedWithCode(1),
                testing::Eq("CUDA error at x.cpp:7 code=999(cudaErrorUnknown) \"f()\" \n"));
    EXPECT_EXIT(requireCudaSuccess(cudaErrorApiFailureBase, "f()", "x.cpp", 7), testing::ExitedWithCode(1),
                testing::Eq("CUDA error at x.cpp:7 code=10000(cudaErrorApiFailureBase) \"f()\" \n"));
}

TEST_F(RequireCudaSuccess, TheMacroReportsTheCallAsWrittenWithItsFileAndLine)
{
    const int checkLine = __LINE__ + 3;
    const std::string expected = std::string("CUDA error at ") + __FILE__ + ":" + std::to_string(checkLine) +
                                 " code=101(cudaErrorInvalidDevice) \"cudaSetDevice(7)\" \n";
    EXPECT_EXIT(REQUIRE_CUDA_SUCCESS(cudaSetDevice(7)), testing::ExitedWithCode(1), testing::Eq(expected));
}

void reportLiveAllocations()
{
    std::fprintf(stderr, "live allocations at exit: %zu\n", cpu_runtime::liveAllocationCount());
}

TEST_F(RequireCudaSuccess, ResetsTheDeviceBeforeEnding)
{
    EXPECT_EXIT(
        {
            void* buffer = nullptr;
            if (cudaMalloc(&buffer, 1024) != cudaSuccess) std::abort();
            std::atexit(reportLiveAllocations);
            requireCudaSuccess(cudaErrorLaunchFailure, "kernel<<<1, 1>>>()", "x.cpp", 3);
        },
        testing::ExitedWithCode(1), testing::EndsWith("\"kernel<<<1, 1>>>()\" \nlive allocations at exit: 0\n"));
}

}  // namespace
