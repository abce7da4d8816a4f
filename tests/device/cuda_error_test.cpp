// The table of CUDA status names and the fatal check of a CUDA call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <set>
#include <string>

#include "gpu/helper_cuda.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"
#include "tests/support/emulator.h"

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

// Every name in the table must be the CUDA toolkit's own enumerator for the
// same number, read from the toolkit's header where one is installed. Names
// that a newer toolkit has dropped are skipped; at least the statuses the
// program itself meets must be there.
TEST(CudaErrorEnumName, AgreesWithTheToolkitsOwnHeader)
{
#ifndef CUDA_TOOLKIT_DRIVER_TYPES_HEADER
    GTEST_SKIP() << "no CUDA toolkit header found at configure time";
#else
    std::ifstream header(CUDA_TOOLKIT_DRIVER_TYPES_HEADER);
    ASSERT_TRUE(header) << CUDA_TOOLKIT_DRIVER_TYPES_HEADER;
    // Lines of the form "cudaErrorName = 123," (a leading comma allowed).
    std::map<std::string, int> toolkit;
    for (std::string line; std::getline(header, line);) {
        std::istringstream words(line);
        std::string name, equals;
        long value = -1;
        if (!(words >> name)) continue;
        if (name == ",") words >> name;
        if (name.rfind("cudaSuccess", 0) != 0 && name.rfind("cudaError", 0) != 0) continue;
        if (words >> equals >> value && equals == "=") toolkit[name] = static_cast<int>(value);
    }
    int found = 0;
    for (int code = 0; code <= 10000; ++code) {
        const std::string name = cudaErrorEnumName(code);
        if (name == "<unknown>") continue;
        const auto entry = toolkit.find(name);
        if (entry == toolkit.end()) continue;
        ++found;
        EXPECT_EQ(entry->second, code) << name;
    }
    for (const char* used : {"cudaSuccess", "cudaErrorInvalidValue", "cudaErrorMemoryAllocation",
                             "cudaErrorInvalidConfiguration", "cudaErrorNoDevice", "cudaErrorInvalidDevice",
                             "cudaErrorInvalidResourceHandle", "cudaErrorLaunchOutOfResources", "cudaErrorUnknown"})
        EXPECT_EQ(toolkit.count(used), 1u) << used;
    EXPECT_GE(found, 60) << "of the table's 80 names, in " << CUDA_TOOLKIT_DRIVER_TYPES_HEADER;
#endif
}

class RequireCudaSuccess : public CpuRuntimeTest {
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
