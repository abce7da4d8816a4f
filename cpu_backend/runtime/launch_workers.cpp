// Launch validation, launch records and the worker pool of the CPU runtime.
#include "launch_workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "memory_access_hook.h"
#include "runtime_state.h"

namespace cpu_runtime {
namespace {

// The limits of every current CUDA device.
constexpr unsigned kMaxThreadsPerBlock = 1024;
constexpr unsigned kMaxBlockDim[3] = {1024, 1024, 64};
constexpr unsigned kMaxGridDim[3] = {0x7FFFFFFFu, 65535, 65535};
constexpr size_t kMaxSharedBytesPerBlock = 48 * 1024;

cudaError_t validateShape(const KernelInfo& kernel, dim3 grid, dim3 block)
{
    const unsigned blockDims[3] = {block.x, block.y, block.z};
    const unsigned gridDims[3] = {grid.x, grid.y, grid.z};
    for (int axis = 0; axis < 3; ++axis) {
        if (blockDims[axis] == 0 || blockDims[axis] > kMaxBlockDim[axis]) return cudaErrorInvalidConfiguration;
        if (gridDims[axis] == 0 || gridDims[axis] > kMaxGridDim[axis]) return cudaErrorInvalidConfiguration;
    }
    if (static_cast<unsigned long long>(block.x) * block.y * block.z > kMaxThreadsPerBlock)
        return cudaErrorInvalidConfiguration;
    if (kernel.staticSharedBytes > kMaxSharedBytesPerBlock) return cudaErrorInvalidValue;
    return cudaSuccess;
}

struct LaunchLog {
    std::mutex mutex;
    bool enabled = false;
    std::vector<LaunchRecord> records;
};

LaunchLog& launchLog()
{
    static LaunchLog* log = new LaunchLog;
    return *log;
}

// Persistent workers that share the blocks of one launch at a time; the
// launching thread works too.
class WorkerPool {
public:
    explicit WorkerPool(unsigned threads)
    {
        for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { serve(); });
    }

    unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }

    void run(size_t blockCount, const std::function<void(size_t, size_t)>& body)
    {
        if (workers_.empty() || blockCount < 2) {
            body(0, blockCount);
            return;
        }
        // The workers serve one launch at a time, whichever thread asks.
        std::lock_guard<std::mutex> oneLaunch(runMutex_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            body_ = &body;
            blockCount_ = blockCount;
            chunk_ = std::max<size_t>(1, blockCount / (size() * 8));
            next_.store(0);
            pending_ = static_cast<unsigned>(workers_.size());
            ++generation_;
        }
        wake_.notify_all();
        work();
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return pending_ == 0; });
        body_ = nullptr;
    }

private:
    void work()
    {
        for (;;) {
            const size_t first = next_.fetch_add(chunk_);
            if (first >= blockCount_) return;
            (*body_)(first, std::min(first + chunk_, blockCount_));
        }
    }

    void serve()
    {
        unsigned long long seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return generation_ != seen; });
                seen = generation_;
            }
            work();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                --pending_;
            }
            finished_.notify_one();
        }
    }

    std::vector<std::thread> workers_;
    std::mutex runMutex_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const std::function<void(size_t, size_t)>* body_ = nullptr;
    size_t blockCount_ = 0;
    size_t chunk_ = 1;
    std::atomic<size_t> next_{0};
    unsigned pending_ = 0;
    unsigned long long generation_ = 0;
};

std::atomic<MemoryAccessHook> memoryAccessHook{nullptr};

// The threads kernels are spread over: SHALLOW_WATER_CPU_THREADS where it
// names a count from 1 to 256 (a benchmark at a given count, the browser
// page's choice), else one a core. A WebAssembly build without threads has
// the launching thread alone.
unsigned chosenThreadCount()
{
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    return 1;
#else
    if (const char* text = std::getenv("SHALLOW_WATER_CPU_THREADS")) {
        char* end = nullptr;
        const long count = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && count >= 1 && count <= 256) return static_cast<unsigned>(count);
        std::fprintf(stderr, "SHALLOW_WATER_CPU_THREADS=%s is not a thread count from 1 to 256; using one a core.\n",
                     text);
    }
    return std::max(1u, std::thread::hardware_concurrency());
#endif
}

WorkerPool& pool()
{
    // Never destroyed: its threads wait for work until the process ends.
    static WorkerPool* instance = new WorkerPool(chosenThreadCount());
    return *instance;
}

}  // namespace

std::unique_lock<std::recursive_mutex> lockRuntime()
{
    static std::recursive_mutex* mutex = new std::recursive_mutex;
    return std::unique_lock<std::recursive_mutex>(*mutex);
}

float* threadScratchFloats(size_t floats)
{
    thread_local std::vector<float> storage;
    constexpr size_t kAlignFloats = 64 / sizeof(float);
    if (storage.size() < floats + kAlignFloats) storage.resize(floats + kAlignFloats);
    const uintptr_t at = reinterpret_cast<uintptr_t>(storage.data());
    return storage.data() + (64 - at % 64) % 64 / sizeof(float);
}

unsigned workerCount()
{
    return pool().size();
}

bool acceptLaunch(const KernelInfo& kernel, dim3 grid, dim3 block)
{
    cudaError_t status = injectedStatus("cudaLaunchKernel");
    if (status == cudaSuccess && devices().empty()) status = cudaErrorNoDevice;
    if (status == cudaSuccess) status = validateShape(kernel, grid, block);
    LaunchLog& log = launchLog();
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        if (log.enabled) log.records.push_back({kernel.name, grid, block, status});
    }
    recordStatus(status);
    return status == cudaSuccess;
}

void runBlocksInParallel(size_t blockCount, const std::function<void(size_t, size_t)>& body)
{
    pool().run(blockCount, body);
}

void setMemoryAccessHook(MemoryAccessHook hook)
{
    memoryAccessHook.store(hook);
}

void beforeAccess(std::initializer_list<MemoryUse> uses)
{
    const auto runtimeLock = lockRuntime();
    if (MemoryAccessHook hook = memoryAccessHook.load()) hook(uses.begin(), uses.size());
}

void recordLaunches(bool enabled)
{
    LaunchLog& log = launchLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.enabled = enabled;
}

std::vector<LaunchRecord> recordedLaunches()
{
    LaunchLog& log = launchLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.records;
}

void clearRecordedLaunches()
{
    LaunchLog& log = launchLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.records.clear();
}

}  // namespace cpu_runtime
