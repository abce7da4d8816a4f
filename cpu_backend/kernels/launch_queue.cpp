// What waits in the launch queue, and when it makes one frame step.
#include "launch_queue.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "cpu_backend/launch_workers.h"
#include "kernels/stream.h"

namespace cpu_kernels {
namespace {

enum class QueuedKernel { kCollision, kStream, kDecay };

struct QueuedLaunch {
    QueuedKernel kernel;
    const KernelSet* set;
    dim3 grid;
    dim3 block;
    float* f;  // collision: f; streaming: its source
    float* fStream;
    const float* fx;
    const float* fy;
    float* h;
    float* force;  // the decayed field
    bool fInitialized;
};

// A frame's launches in the order the model issues them.
constexpr QueuedKernel kFrameOrder[] = {QueuedKernel::kCollision, QueuedKernel::kStream, QueuedKernel::kDecay,
                                        QueuedKernel::kDecay};
constexpr size_t kFrameLaunches = sizeof kFrameOrder / sizeof kFrameOrder[0];

struct LaunchQueue {
    std::mutex mutex;
    std::vector<QueuedLaunch> launches;  // never more than one frame's
};

LaunchQueue& launchQueue()
{
    static LaunchQueue* instance = new LaunchQueue;
    return *instance;
}

std::atomic<unsigned long long> fusedSteps{0};

void runAlone(const QueuedLaunch& launch)
{
    switch (launch.kernel) {
    case QueuedKernel::kCollision:
        launch.set->collision3(launch.grid, launch.block, launch.f, launch.fx, launch.fy, launch.h,
                               launch.fInitialized);
        break;
    case QueuedKernel::kStream:
        launch.set->stream(launch.grid, launch.block, launch.f, launch.fStream);
        break;
    case QueuedKernel::kDecay:
        launch.set->incrementForce(launch.grid, launch.block, launch.force);
        break;
    }
}

// A one-dimensional launch whose threads cover `cells` cells in order.
bool coversCells(dim3 grid, dim3 block, unsigned long long cells)
{
    return grid.y == 1 && grid.z == 1 && block.y == 1 && block.z == 1 &&
           static_cast<unsigned long long>(grid.x) * block.x == cells;
}

struct Range {
    uintptr_t begin;
    uintptr_t end;
};

Range floats(const void* p, unsigned long long count)
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    return {begin, begin + static_cast<uintptr_t>(count * sizeof(float))};
}

// Whether a whole frame's launches do what one FrameStep does: the same
// set, the streaming of the collided f, the decay of the collision's two
// force fields, the shapes the model uses on a grid small enough for exact
// offsets, and five arrays that do not overlap.
bool makeFrameStep(const std::vector<QueuedLaunch>& launches, FrameStep* step)
{
    if (launches.size() != kFrameLaunches) return false;
    const QueuedLaunch& collision = launches[0];
    const QueuedLaunch& stream = launches[1];
    for (const QueuedLaunch& launch : launches)
        if (launch.set != collision.set) return false;
    if (stream.f != collision.f) return false;
    float* fx = launches[2].force;
    float* fy = launches[3].force;
    if (fx != collision.fx) std::swap(fx, fy);
    if (fx != collision.fx || fy != collision.fy) return false;

    const bool tileShaped = stream.block.x == kStreamTileWithBorder && stream.block.y == kStreamTileWithBorder &&
                            stream.block.z == 1 && stream.grid.z == 1;
    const unsigned long long width = static_cast<unsigned long long>(stream.grid.x) * kStreamTile;
    const unsigned long long height = static_cast<unsigned long long>(stream.grid.y) * kStreamTile;
    const unsigned long long cells = width * height;
    if (!tileShaped || cells > (1u << 23)) return false;
    for (const QueuedLaunch& launch : {collision, launches[2], launches[3]})
        if (!coversCells(launch.grid, launch.block, cells)) return false;

    const Range ranges[] = {floats(collision.f, cells * 9), floats(stream.fStream, cells * 9), floats(fx, cells),
                            floats(fy, cells), floats(collision.h, cells)};
    for (size_t a = 0; a < 5; ++a)
        for (size_t b = a + 1; b < 5; ++b)
            if (ranges[a].begin < ranges[b].end && ranges[b].begin < ranges[a].end) return false;

    *step = FrameStep{collision.f, stream.fStream, fx, fy, collision.h, collision.fInitialized,
                      static_cast<int>(width), static_cast<int>(height)};
    return true;
}

void runLaunches(const std::vector<QueuedLaunch>& launches)
{
    if (launches.empty()) return;
    FrameStep step;
    if (makeFrameStep(launches, &step) && launches[0].set->frameStep(step)) {
        fusedSteps.fetch_add(1);
        return;
    }
    for (const QueuedLaunch& launch : launches) runAlone(launch);
}

std::vector<QueuedLaunch> takeQueued(LaunchQueue& q)
{
    std::vector<QueuedLaunch> taken;
    taken.swap(q.launches);
    return taken;
}

// Queues a launch. The queue only ever holds the start of one frame: a
// launch that does not continue it first runs what waits, and the launch
// that completes it runs the frame.
void enqueue(const QueuedLaunch& launch)
{
    // The runtime runs the queue before any call that depends on it.
    static const bool runnerInstalled = (cpu_runtime::setQueuedLaunchRunner(runQueuedLaunches), true);
    (void)runnerInstalled;
    LaunchQueue& q = launchQueue();
    std::vector<QueuedLaunch> earlier;
    std::vector<QueuedLaunch> frame;
    bool runNow = false;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.launches.size() >= kFrameLaunches || kFrameOrder[q.launches.size()] != launch.kernel)
            earlier = takeQueued(q);
        if (q.launches.empty() && launch.kernel != QueuedKernel::kCollision) {
            runNow = true;  // only a collision begins a frame
        } else {
            q.launches.push_back(launch);
            if (q.launches.size() == kFrameLaunches) frame = takeQueued(q);
        }
    }
    runLaunches(earlier);
    if (runNow) runAlone(launch);
    runLaunches(frame);
}

}  // namespace

void queueCollision(const KernelSet& set, dim3 grid, dim3 block, float* f, const float* fx, const float* fy, float* h,
                    bool fInitialized)
{
    enqueue({QueuedKernel::kCollision, &set, grid, block, f, nullptr, fx, fy, h, nullptr, fInitialized});
}

void queueStream(const KernelSet& set, dim3 grid, dim3 block, const float* f, float* fStream)
{
    enqueue({QueuedKernel::kStream, &set, grid, block, const_cast<float*>(f), fStream, nullptr, nullptr, nullptr,
           nullptr, false});
}

void queueIncrementForce(const KernelSet& set, dim3 grid, dim3 block, float* force)
{
    enqueue({QueuedKernel::kDecay, &set, grid, block, nullptr, nullptr, nullptr, nullptr, nullptr, force, false});
}

void runQueuedLaunches()
{
    LaunchQueue& q = launchQueue();
    std::vector<QueuedLaunch> ready;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        ready = takeQueued(q);
    }
    runLaunches(ready);
}

unsigned long long fusedFrameSteps()
{
    return fusedSteps.load();
}

}  // namespace cpu_kernels
