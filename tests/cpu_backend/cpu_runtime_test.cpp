// The CPU runtime behaves like the CUDA runtime where the program relies on
// it: status codes, last-error semantics, launch validation, memory rules.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "model/simulation_step.h"
#include "cpu_backend/dispatch/launch_queue.h"
#include "cpu_backend/runtime/launch_workers.h"
#include "cpu_backend/runtime/device_symbols.h"
#include "cpu_backend/runtime/large_pages.h"
#include "kernels/device_constants.h"
#include "kernels/kernel_launch.h"
#include "kernels/kernel_support.h"
#include "model/water_model.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"

namespace {

using CpuRuntime = CpuRuntimeTest;

TEST_F(CpuRuntime, RejectedLaunchShapesRecordTheRuntimesStatusAsLastError)
{
    float* h = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&h), 4096 * sizeof(float)), cudaSuccess);
    struct Case {
        dim3 grid, block;
    };
    const Case invalid[] = {
        {dim3(1), dim3(1025)},         {dim3(1), dim3(32, 33)},      {dim3(1), dim3(1, 1, 65)},
        {dim3(0), dim3(32)},           {dim3(1, 65536), dim3(32)},   {dim3(1, 1, 65536), dim3(32)},
        {dim3(1), dim3(0, 1, 1)},
    };
    for (const Case& c : invalid) {
        launchInitWaterLB(c.grid, c.block, h, h, h);
        EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidConfiguration);
        EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
        EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "cudaGetLastError must clear the error";
    }
    // The largest legal block runs.
    launchInitWaterLB(dim3(4), dim3(1024), h, h, h);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
    EXPECT_EQ(cudaFree(h), cudaSuccess);
}

TEST_F(CpuRuntime, SharedMemoryBeyondTheBlockLimitIsRejected)
{
    EXPECT_TRUE(cpu_runtime::acceptLaunch({"fits", 48 * 1024}, dim3(1), dim3(1)));
    EXPECT_FALSE(cpu_runtime::acceptLaunch({"tooBig", 48 * 1024 + 4}, dim3(1), dim3(1)));
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue);
}

TEST_F(CpuRuntime, ALaterSuccessDoesNotClearAnEarlierError)
{
    void* p = nullptr;
    EXPECT_EQ(cudaFree(reinterpret_cast<void*>(0x1000)), cudaErrorInvalidValue);
    ASSERT_EQ(cudaMalloc(&p, 16), cudaSuccess);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(p), cudaSuccess);
}

TEST_F(CpuRuntime, FreeAcceptsOnlyPointersItHandedOut)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    char* p = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&p), 1000), cudaSuccess);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 256, 0u);
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before + 1);
    EXPECT_EQ(cudaFree(p + 4), cudaErrorInvalidValue);  // inside, but not the start
    int onStack = 0;
    EXPECT_EQ(cudaFree(&onStack), cudaErrorInvalidValue);
    EXPECT_EQ(cudaFree(nullptr), cudaSuccess);
    EXPECT_EQ(cudaFree(p), cudaSuccess);
    EXPECT_EQ(cudaFree(p), cudaErrorInvalidValue);  // twice
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);
    cudaGetLastError();
}

// Blocks from one large page up start on a large-page boundary (so that
// they can be backed by large pages), smaller ones keep the ordinary
// alignment; both kinds are whole to their last byte and free cleanly (the
// sanitizer build checks that each is freed with its own alignment).
TEST_F(CpuRuntime, LargeBlocksStartOnALargePageAndFreeCleanly)
{
    const size_t before = cpu_runtime::liveAllocationCount();
    for (const size_t size : {cpu_runtime::kLargePageBytes - 1, cpu_runtime::kLargePageBytes + 1}) {
        SCOPED_TRACE(testing::Message() << size << " bytes");
        char* p = nullptr;
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&p), size), cudaSuccess);
        const size_t alignment = size >= cpu_runtime::kLargePageBytes ? cpu_runtime::kLargePageBytes : 256;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
        const char ends[2] = {'a', 'z'};
        ASSERT_EQ(cudaMemcpy(p, &ends[0], 1, cudaMemcpyHostToDevice), cudaSuccess);
        ASSERT_EQ(cudaMemcpy(p + size - 1, &ends[1], 1, cudaMemcpyHostToDevice), cudaSuccess);
        char back[2] = {};
        ASSERT_EQ(cudaMemcpy(&back[0], p, 1, cudaMemcpyDeviceToHost), cudaSuccess);
        ASSERT_EQ(cudaMemcpy(&back[1], p + size - 1, 1, cudaMemcpyDeviceToHost), cudaSuccess);
        EXPECT_EQ(std::string(back, 2), "az");
        EXPECT_EQ(cudaFree(p), cudaSuccess);
    }
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), before);
}

TEST_F(CpuRuntime, CopiesMustStayInsideAnAllocation)
{
    float* p = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&p), 4 * sizeof(float)), cudaSuccess);
    std::vector<float> host(5, 1.0f);
    EXPECT_EQ(cudaMemcpy(p, host.data(), 4 * sizeof(float), cudaMemcpyHostToDevice), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(p, host.data(), 5 * sizeof(float), cudaMemcpyHostToDevice), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpy(host.data(), p + 1, 3 * sizeof(float), cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(cudaFree(p), cudaSuccess);
    cudaGetLastError();
}

TEST_F(CpuRuntime, DeviceToDeviceCopiesMoveEveryByte)
{
    // Several chunks of the parallel copy, and a ragged end.
    const size_t count = (7u << 20) / 2 + 13;
    std::vector<uint8_t> pattern(count);
    for (size_t i = 0; i < count; ++i) pattern[i] = static_cast<uint8_t>(i * 131 + (i >> 16));
    uint8_t *a = nullptr, *b = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&a), count), cudaSuccess);
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&b), count), cudaSuccess);
    writeDevice(a, pattern);
    ASSERT_EQ(cudaMemcpy(b, a, count, cudaMemcpyDeviceToDevice), cudaSuccess);
    EXPECT_EQ(readDevice(b, count), pattern);
    // Overlapping ranges within one allocation move like memmove.
    ASSERT_EQ(cudaMemcpy(a + 1, a, count - 1, cudaMemcpyDeviceToDevice), cudaSuccess);
    const auto shifted = readDevice(a, count);
    EXPECT_TRUE(std::equal(pattern.begin(), pattern.end() - 1, shifted.begin() + 1));
    cudaFree(a);
    cudaFree(b);
}

TEST_F(CpuRuntime, DeviceToDeviceCopiesAtAnyAlignmentTouchOnlyTheirTarget)
{
    // The copy writes aligned runs of 16 bytes past the cache; the bytes
    // before and after them go through it, and nothing outside the target
    // may change.
    const size_t size = (1u << 20) + 64;
    std::vector<uint8_t> source(size), guard(size, 0xA5);
    for (size_t i = 0; i < size; ++i) source[i] = static_cast<uint8_t>(i * 7 + 1);
    uint8_t *a = nullptr, *b = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&a), size), cudaSuccess);
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&b), size), cudaSuccess);
    writeDevice(a, source);
    for (size_t from : {0u, 3u, 16u})
        for (size_t to : {0u, 5u, 15u, 16u})
            for (size_t count : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{100}, size - 32}) {
                SCOPED_TRACE(testing::Message() << "from " << from << " to " << to << ", " << count << " bytes");
                writeDevice(b, guard);
                ASSERT_EQ(cudaMemcpy(b + to, a + from, count, cudaMemcpyDeviceToDevice), cudaSuccess);
                std::vector<uint8_t> expected = guard;
                std::copy(source.begin() + from, source.begin() + from + count, expected.begin() + to);
                ASSERT_EQ(readDevice(b, size), expected);
            }
    cudaFree(a);
    cudaFree(b);
}

// A copy to a symbol is ordered after every launch issued before it, as on
// a GPU: a collision waiting in the launch queue runs with the factor it was
// launched with, which a run that synchronises before the copy shows.
TEST_F(CpuRuntime, CopyToSymbolRunsTheLaunchesWaitingBeforeIt)
{
    DefaultSettingsAfterwards restore;
    constexpr int kCells = 2 * 576;
    std::vector<float> values(kCells * 9);
    for (size_t i = 0; i < values.size(); ++i) values[i] = 0.0056f * (1.0f + 0.01f * static_cast<float>(i % 17));
    float* f = nullptr;
    float* forces = nullptr;
    float* h = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&f), values.size() * sizeof(float)), cudaSuccess);
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&forces), kCells * sizeof(float)), cudaSuccess);
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&h), kCells * sizeof(float)), cudaSuccess);
    ASSERT_EQ(cudaMemset(forces, 0, kCells * sizeof(float)), cudaSuccess);
    const float other = 1.5f;
    // The collision, then the copy: synchronised in between, or not.
    const auto collideThenSet = [&](bool synchronise) {
        EXPECT_EQ(cudaMemcpyToSymbol(c_omega, &kInitialRelaxationFactor), cudaSuccess);
        writeDevice(f, values);
        const unsigned long long alone = cpu_kernels::stepLaunchesRunAlone();
        launchCollision3(dim3(2), dim3(576), f, forces, forces, h, kFromDistributions);
        EXPECT_EQ(cpu_kernels::stepLaunchesRunAlone(), alone) << "the collision waits in the queue";
        if (synchronise) {
            EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
        }
        EXPECT_EQ(cudaMemcpyToSymbol(c_omega, &other, sizeof other), cudaSuccess);
        EXPECT_EQ(cpu_kernels::stepLaunchesRunAlone(), alone + 1) << "the collision ran before the copy";
        EXPECT_EQ(c_omega, other);
        return readDevice(f, values.size());
    };
    const std::vector<float> synchronised = collideThenSet(true);
    const std::vector<float> queued = collideThenSet(false);
    EXPECT_TRUE(sameBits(queued, synchronised, 576, 9));
    // The factor set before the launch does change the result.
    writeDevice(f, values);
    launchCollision3(dim3(2), dim3(576), f, forces, forces, h, kFromDistributions);
    EXPECT_FALSE(sameBits(readDevice(f, values.size()), synchronised, 576, 9));
    cudaFree(f);
    cudaFree(forces);
    cudaFree(h);
}

// The copies' ranges within the symbol, directions and errors, as the CUDA
// runtime has them.
TEST_F(CpuRuntime, SymbolCopiesStayInsideTheSymbolAndReturnTheRuntimesErrors)
{
    static float symbol[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    static const cpu_runtime::DeviceSymbol registered(symbol, sizeof symbol);
    const float written[2] = {20.0f, 30.0f};
    EXPECT_EQ(cudaMemcpyToSymbol(symbol, written, sizeof written, 2 * sizeof(float)), cudaSuccess);
    float back[4] = {};
    EXPECT_EQ(cudaMemcpyFromSymbol(back, symbol), cudaSuccess);
    EXPECT_EQ(std::vector<float>(back, back + 4), (std::vector<float>{1.0f, 2.0f, 20.0f, 30.0f}));
    EXPECT_EQ(cudaMemcpyFromSymbol(back, symbol, sizeof(float), 3 * sizeof(float)), cudaSuccess);
    EXPECT_EQ(back[0], 30.0f);

    // Past the end, an offset beyond it, a wrapping count, a direction from
    // the symbol: refused, nothing written, and the status is the last error.
    const float many[5] = {9.0f, 9.0f, 9.0f, 9.0f, 9.0f};
    struct Refused {
        size_t count, offset;
        cudaMemcpyKind kind;
        cudaError_t status;
    };
    const Refused refused[] = {
        {sizeof many, 0, cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {sizeof(float), 4 * sizeof(float), cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {0, 5 * sizeof(float), cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {SIZE_MAX, sizeof(float), cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {2 * sizeof(float), 3 * sizeof(float), cudaMemcpyHostToDevice, cudaErrorInvalidValue},
        {sizeof(float), 0, cudaMemcpyDeviceToHost, cudaErrorInvalidMemcpyDirection},
        {sizeof(float), 0, cudaMemcpyDeviceToDevice, cudaErrorInvalidValue},  // from host memory
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(cudaMemcpyToSymbol(symbol, many, r.count, r.offset, r.kind), r.status)
            << r.count << " bytes at " << r.offset;
        EXPECT_EQ(cudaGetLastError(), r.status);
    }
    EXPECT_EQ(cudaMemcpyFromSymbol(back, symbol, sizeof(float), 4 * sizeof(float)), cudaErrorInvalidValue);
    EXPECT_EQ(cudaMemcpyFromSymbol(back, symbol, sizeof(float), 0, cudaMemcpyHostToDevice),
              cudaErrorInvalidMemcpyDirection);
    cudaGetLastError();
    EXPECT_EQ(std::vector<float>(symbol, symbol + 4), (std::vector<float>{1.0f, 2.0f, 20.0f, 30.0f}));

    // An address that is no device symbol, however writable.
    float notSymbol[4] = {};
    EXPECT_EQ(cudaMemcpyToSymbol(notSymbol, written, sizeof written), cudaErrorInvalidSymbol);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidSymbol);
    EXPECT_EQ(cudaMemcpyFromSymbol(back, notSymbol), cudaErrorInvalidSymbol);
    cudaGetLastError();
    EXPECT_EQ(notSymbol[0], 0.0f);

    // From device memory, as a device-to-device copy.
    float* device = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&device), sizeof(float)), cudaSuccess);
    writeDevice(device, std::vector<float>{5.0f});
    EXPECT_EQ(cudaMemcpyToSymbol(symbol, device, sizeof(float), 0, cudaMemcpyDeviceToDevice), cudaSuccess);
    EXPECT_EQ(symbol[0], 5.0f);

    // An injected failure, then a sticky one, which every later copy returns.
    cpu_runtime::failCall("cudaMemcpyToSymbol", 1, cudaErrorInvalidSymbol);
    EXPECT_EQ(cudaMemcpyToSymbol(symbol, many, sizeof(float)), cudaErrorInvalidSymbol);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidSymbol);
    cpu_runtime::failCall("cudaMemset", 1, cudaErrorIllegalAddress);
    EXPECT_EQ(cudaMemset(device, 0, sizeof(float)), cudaErrorIllegalAddress);
    EXPECT_EQ(cudaMemcpyToSymbol(symbol, many, sizeof(float)), cudaErrorIllegalAddress);
    EXPECT_EQ(cudaMemcpyFromSymbol(back, symbol), cudaErrorIllegalAddress);
    EXPECT_EQ(symbol[0], 5.0f);
    // The model's settings report such a failure as its other operations do.
    EXPECT_FALSE(setRelaxationFactor(1.0f));
    EXPECT_FALSE(setDepthRange(0.04f, 0.06f));
    EXPECT_EQ(c_omega, kInitialRelaxationFactor);
    EXPECT_EQ(c_minHeight, kInitialBlackDepth);
    cpu_runtime::clearFailures();
    cudaGetLastError();
    EXPECT_EQ(cudaFree(device), cudaSuccess);
}

TEST_F(CpuRuntime, InjectedFailureHitsExactlyTheNthUse)
{
    cpu_runtime::failCall("cudaMalloc", 2, cudaErrorMemoryAllocation);
    void* first = nullptr;
    void* second = reinterpret_cast<void*>(1);
    void* third = nullptr;
    EXPECT_EQ(cudaMalloc(&first, 8), cudaSuccess);
    EXPECT_EQ(cudaMalloc(&second, 8), cudaErrorMemoryAllocation);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(cudaMalloc(&third, 8), cudaSuccess);
    EXPECT_EQ(cudaGetLastError(), cudaErrorMemoryAllocation);
    cudaFree(first);
    cudaFree(third);
}

TEST_F(CpuRuntime, InjectedLaunchFailureSkipsTheKernel)
{
    float* h = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&h), 576 * sizeof(float)), cudaSuccess);
    ASSERT_EQ(cudaMemset(h, 0, 576 * sizeof(float)), cudaSuccess);
    cpu_runtime::failCall("cudaLaunchKernel", 1, cudaErrorLaunchOutOfResources);
    launchInitWaterLB(dim3(1), dim3(576), h, h, h);
    EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchOutOfResources);
    EXPECT_EQ(readDevice(h, 576)[0], 0.0f);
    cudaFree(h);
}

// As on a GPU: an illegal address, a launch failure or a lost device leaves
// the device unusable, for every later call of every thread, until reset.
TEST_F(CpuRuntime, ADeviceLosingFailureIsReturnedByEveryLaterCall)
{
    float* h = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&h), 576 * sizeof(float)), cudaSuccess);
    cpu_runtime::failCall("cudaLaunchKernel", 1, cudaErrorIllegalAddress);
    launchInitWaterLB(dim3(1), dim3(576), h, h, h);
    EXPECT_EQ(cudaGetLastError(), cudaErrorIllegalAddress);
    EXPECT_EQ(cudaGetLastError(), cudaErrorIllegalAddress) << "taking it off does not clear it";
    void* p = nullptr;
    EXPECT_EQ(cudaMalloc(&p, 4), cudaErrorIllegalAddress);
    EXPECT_EQ(cudaMemset(h, 0, 4), cudaErrorIllegalAddress);
    std::thread([] { EXPECT_EQ(cudaDeviceSynchronize(), cudaErrorIllegalAddress); }).join();
    EXPECT_TRUE(deviceCannotContinue());

    // A failure that leaves the device usable is gone once taken off.
    cpu_runtime::clearFailures();
    cudaGetLastError();
    EXPECT_FALSE(deviceCannotContinue());
    cpu_runtime::failCall("cudaMemset", 1, cudaErrorLaunchOutOfResources);
    EXPECT_EQ(cudaMemset(h, 0, 4), cudaErrorLaunchOutOfResources);
    EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchOutOfResources);
    EXPECT_FALSE(deviceCannotContinue());
    EXPECT_EQ(cudaMemset(h, 0, 4), cudaSuccess);
    EXPECT_EQ(cudaFree(h), cudaSuccess);
}

// The CUDA runtime may be called from several host threads: two threads
// stepping models of their own at the same time get exactly what one
// thread alone gets.
TEST_F(CpuRuntime, TwoHostThreadsSteppingTheirOwnModelsGetTheSingleThreadResult)
{
    constexpr int kSteps = 40;
    const auto run = [](std::vector<float>* depth) {
        ModelPtr model = makeModel(288, 64);
        if (model == nullptr) return;
        for (int step = 0; step < kSteps; ++step) {
            advanceWater(*model, step > 0);
            if (step % 5 == 0) model->addRainDrop(40.0f + 7.0f * step, 30.0f, 0.0002f, 12.0f);
        }
        *depth = readScalarField(*model, model->h);
    };
    std::vector<float> alone;
    run(&alone);
    ASSERT_EQ(alone.size(), 288u * 64u);
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::vector<float> first;
        std::vector<float> second;
        std::thread other(run, &second);
        run(&first);
        other.join();
        ASSERT_TRUE(sameBits(first, alone, 288)) << "attempt " << attempt;
        ASSERT_TRUE(sameBits(second, alone, 288)) << "attempt " << attempt;
    }
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST_F(CpuRuntime, DefaultDeviceIsTheEmulatedOne)
{
    int count = 0;
    ASSERT_EQ(cudaGetDeviceCount(&count), cudaSuccess);
    ASSERT_EQ(count, 1);
    cudaDeviceProp prop;
    ASSERT_EQ(cudaGetDeviceProperties(&prop, 0), cudaSuccess);
    EXPECT_EQ(prop.major, 9999);
    EXPECT_EQ(prop.minor, 9999);
    EXPECT_EQ(prop.multiProcessorCount, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    EXPECT_STRNE(prop.name, "");
    int mode = -1;
    EXPECT_EQ(cudaDeviceGetAttribute(&mode, cudaDevAttrComputeMode, 0), cudaSuccess);
    EXPECT_EQ(mode, cudaComputeModeDefault);
    EXPECT_EQ(cudaGetDeviceProperties(&prop, 1), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaSetDevice(1), cudaErrorInvalidDevice);
    EXPECT_EQ(cudaSetDevice(0), cudaSuccess);
    cudaGetLastError();
}

TEST_F(CpuRuntime, ReplacedDeviceListIsWhatTheRuntimeReports)
{
    std::vector<cpu_runtime::EmulatedDevice> devices;
    ASSERT_TRUE(cpu_runtime::parseDeviceList("Alpha,5.2,10,1000;Beta,3.5,20,2000,2", &devices));
    ASSERT_EQ(devices.size(), 2u);
    cpu_runtime::setDevices(devices);
    int count = 0;
    ASSERT_EQ(cudaGetDeviceCount(&count), cudaSuccess);
    EXPECT_EQ(count, 2);
    cudaDeviceProp prop;
    ASSERT_EQ(cudaGetDeviceProperties(&prop, 1), cudaSuccess);
    EXPECT_STREQ(prop.name, "Beta");
    EXPECT_EQ(prop.major * 10 + prop.minor, 35);
    int clock = 0, mode = 0;
    EXPECT_EQ(cudaDeviceGetAttribute(&clock, cudaDevAttrClockRate, 1), cudaSuccess);
    EXPECT_EQ(cudaDeviceGetAttribute(&mode, cudaDevAttrComputeMode, 1), cudaSuccess);
    EXPECT_EQ(clock, 2000);
    EXPECT_EQ(mode, cudaComputeModeProhibited);
    EXPECT_EQ(cudaSetDevice(1), cudaErrorDevicesUnavailable);

    cpu_runtime::setDevices({});
    EXPECT_EQ(cudaGetDeviceCount(&count), cudaErrorNoDevice);
    EXPECT_EQ(count, 0);
    void* p = nullptr;
    EXPECT_EQ(cudaMalloc(&p, 4), cudaErrorNoDevice);

    for (const char* malformed : {"x", "a,5,1,1", "a,5.2,1", "a,5.2,-1,1", "a,5.2,1,1,1,1", "a,5.2x,1,1"})
        EXPECT_FALSE(cpu_runtime::parseDeviceList(malformed, &devices)) << malformed;
    cudaGetLastError();
}

TEST_F(CpuRuntime, RecordsEachLaunchWithItsShape)
{
    float* h = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&h), 1152 * sizeof(float)), cudaSuccess);
    cpu_runtime::recordLaunches(true);
    launchInitWaterLB(dim3(2), dim3(576), h, h, h);
    launchIncrementForce(dim3(1), dim3(2000), h);
    const auto records = cpu_runtime::recordedLaunches();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kernel, "kInitWaterLB");
    EXPECT_EQ(records[0].grid.x, 2u);
    EXPECT_EQ(records[0].block.x, 576u);
    EXPECT_EQ(records[0].status, cudaSuccess);
    EXPECT_EQ(records[1].kernel, "kIncrementForce");
    EXPECT_EQ(records[1].status, cudaErrorInvalidConfiguration);
    cudaFree(h);
}

TEST_F(CpuRuntime, BlocksAreSpreadOverEveryHardwareThread)
{
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    EXPECT_EQ(cpu_runtime::workerCount(), hardware);
    std::mutex mutex;
    std::condition_variable arrived;
    std::set<std::thread::id> threads;
    std::atomic<size_t> blocksRun{0};
    // Each thread's first range waits until every thread has taken one, so
    // none can finish the work before the others wake, however loaded the
    // machine. Should a worker never come, the wait gives up after a minute
    // and the count below fails.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    cpu_runtime::runBlocksInParallel(4096, [&](size_t first, size_t end) {
        blocksRun += end - first;
        std::unique_lock<std::mutex> lock(mutex);
        if (threads.insert(std::this_thread::get_id()).second) arrived.notify_all();
        arrived.wait_until(lock, deadline, [&] { return threads.size() >= hardware; });
    });
    EXPECT_EQ(blocksRun.load(), 4096u);
    EXPECT_EQ(threads.size(), hardware);
}

TEST(Mul24, MatchesTheDevicesTwentyFourBitMultiply)
{
    EXPECT_EQ(mul24(4128767, 9), 37158903);       // last cell's first distribution value
    EXPECT_EQ(mul24(1 << 23, 1), -(1 << 23));     // bit 23 set: the index turns negative
    EXPECT_EQ(mul24((1 << 23) - 1, 1), (1 << 23) - 1);
    EXPECT_EQ(mul24(0xFFFFFF, 1), -1);
    EXPECT_EQ(mul24(1 << 24, 5), 0);              // bits above 23 are ignored
    EXPECT_EQ(mul24(-1, -1), 1);
    EXPECT_EQ(mul24(-3, 7), -21);
    EXPECT_EQ(mul24(0x7FFFFF, 0x7FFFFF), static_cast<int>(0xFF000001u));  // low 32 bits of the product
    EXPECT_EQ(mul24(7167, 576), 4128192);
}

}  // namespace
