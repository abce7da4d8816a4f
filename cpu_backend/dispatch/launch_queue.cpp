// What waits in the launch queue, and when it makes one step pass.
#include "launch_queue.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

#include "cpu_backend/runtime/memory_access_hook.h"
#include "kernels/forcing.h"
#include "kernels/stream.h"

namespace cpu_kernels {
namespace {

struct QueuedLaunch {
    const KernelSet* set;
    StepLaunch launch;
};

LaunchKind kindOf(const QueuedLaunch& queued)
{
    return std::visit([](const auto& launch) { return launch.kind; }, queued.launch);
}

constexpr size_t kStepLaunches = std::size(kStepShape);

struct LaunchQueue {
    std::mutex mutex;
    std::vector<QueuedLaunch> launches;  // never more than one step's
};

LaunchQueue& launchQueue()
{
    static LaunchQueue* instance = new LaunchQueue;
    return *instance;
}

BufferBookkeeping& bookkeeping()
{
    return BufferBookkeeping::instance();
}

std::atomic<unsigned long long> passesRun{0};
std::atomic<unsigned long long> launchesRunAlone{0};
std::atomic<unsigned long long> passBytes{0};
std::atomic<unsigned long long> passCells{0};

unsigned long long cellsOf(dim3 grid, dim3 block)
{
    return static_cast<unsigned long long>(grid.x) * block.x;
}

Access accessOf(const CollisionLaunch& c)
{
    return cellLaunchAccess(c.grid, c.block, {{c.f, kWrites}, {c.fx, kReads}, {c.fy, kReads}, {c.h, kWrites}});
}

Access accessOf(const StreamingLaunch& s)
{
    const unsigned long long cells = static_cast<unsigned long long>(s.grid.x) * s.grid.y * kStreamTile * kStreamTile;
    Access access;
    access.anywhere = !indicesAreExact(cells) || s.block.x != kStreamTileWithBorder ||
                      s.block.y != kStreamTileWithBorder || s.block.z != 1;
    access.addFloats(s.f, cells * kDirections, kReads);
    access.addFloats(s.fStream, cells * kDirections, kWrites);
    return access;
}

Access accessOf(const ForceDecayLaunch& d)
{
    return cellLaunchAccess(d.grid, d.block, {{d.force, kWrites}});
}

// The direction-major distributions that `access` could observe, restored
// to cell order.
void restoreTouched(const Access& access)
{
    bookkeeping().restore(bookkeeping().takeTouched(access));
}

void runAlone(const QueuedLaunch& queued)
{
    const Access access = std::visit([](const auto& launch) { return accessOf(launch); }, queued.launch);
    restoreTouched(access);
    launchesRunAlone.fetch_add(1);
    const KernelSet& set = *queued.set;
    if (const auto* c = std::get_if<CollisionLaunch>(&queued.launch)) {
        bookkeeping().clearZeroMasks(access);
        set.collision3(c->grid, c->block, c->f, c->fx, c->fy, c->h, c->fInitialized);
    } else if (const auto* s = std::get_if<StreamingLaunch>(&queued.launch)) {
        bookkeeping().clearZeroMasks(access);
        set.stream(s->grid, s->block, s->f, s->fStream);
    } else if (const auto* d = std::get_if<ForceDecayLaunch>(&queued.launch)) {
        // A decay rewrites +0.0 as +0.0: the mask stays, unless it may write anywhere.
        if (access.anywhere) bookkeeping().clearZeroMasks(access);
        set.incrementForce(d->grid, d->block, d->force);
    }
}

// A one-dimensional launch whose threads cover `cells` cells in order.
bool coversCells(dim3 grid, dim3 block, unsigned long long cells)
{
    return grid.y == 1 && grid.z == 1 && block.y == 1 && block.z == 1 && cellsOf(grid, block) == cells;
}

// Whether a whole step's launches do what one StepPass does: the same
// set, the streaming of the collided f, the decay of the collision's two
// force fields, the shapes the model uses on a grid small enough for exact
// indices, and five arrays that do not overlap.
bool recogniseStep(const std::vector<QueuedLaunch>& launches, StepPass* pass)
{
    if (launches.size() != kStepLaunches) return false;
    for (size_t i = 0; i < kStepLaunches; ++i)
        if (launches[i].set != launches[0].set || kindOf(launches[i]) != kStepShape[i]) return false;
    const auto& collision = std::get<CollisionLaunch>(launches[0].launch);
    const auto& stream = std::get<StreamingLaunch>(launches[1].launch);
    const auto& firstDecay = std::get<ForceDecayLaunch>(launches[2].launch);
    const auto& secondDecay = std::get<ForceDecayLaunch>(launches[3].launch);
    if (stream.f != collision.f) return false;
    float* fx = firstDecay.force;
    float* fy = secondDecay.force;
    if (fx != collision.fx) std::swap(fx, fy);
    if (fx != collision.fx || fy != collision.fy) return false;

    const bool tileShaped = stream.block.x == kStreamTileWithBorder && stream.block.y == kStreamTileWithBorder &&
                            stream.block.z == 1 && stream.grid.z == 1;
    const unsigned long long width = static_cast<unsigned long long>(stream.grid.x) * kStreamTile;
    const unsigned long long height = static_cast<unsigned long long>(stream.grid.y) * kStreamTile;
    const unsigned long long cells = width * height;
    if (!tileShaped || !indicesAreExact(cells)) return false;
    if (!coversCells(collision.grid, collision.block, cells) || !coversCells(firstDecay.grid, firstDecay.block, cells) ||
        !coversCells(secondDecay.grid, secondDecay.block, cells))
        return false;

    const Range ranges[] = {Range::ofFloats(collision.f, cells * kDirections), Range::ofFloats(stream.fStream, cells * kDirections),
                            Range::ofFloats(fx, cells), Range::ofFloats(fy, cells),
                            Range::ofFloats(collision.h, cells)};
    for (size_t a = 0; a < 5; ++a)
        for (size_t b = a + 1; b < 5; ++b)
            if (ranges[a].overlaps(ranges[b])) return false;

    pass->f = collision.f;
    pass->fStream = stream.fStream;
    pass->fx = fx;
    pass->fy = fy;
    pass->h = collision.h;
    pass->width = static_cast<int>(width);
    pass->height = static_cast<int>(height);
    pass->fInitialized = collision.fInitialized;
    return true;
}

void runLaunches(const std::vector<QueuedLaunch>& launches)
{
    if (launches.empty()) return;
    StepPass pass;
    if (recogniseStep(launches, &pass)) {
        bookkeeping().restore(bookkeeping().takeTouchedByStepPass(&pass));
        bookkeeping().attachZeroMasks(&pass);
        unsigned long long moved = 0;
        pass.movedBytes = &moved;
        const KernelSet& set = *launches[0].set;
        if (set.stepPass(pass)) {
            passesRun.fetch_add(1);
            passBytes.fetch_add(moved);
            passCells.fetch_add(static_cast<unsigned long long>(pass.width) * pass.height);
            bookkeeping().holdDirectionMajor({&set, pass.f, pass.fStream, pass.width, pass.height});
            return;
        }
        // Only a stencil table that cannot be read stops a pass, and then
        // no pass has ever run: nothing was left direction-major.
    }
    for (const QueuedLaunch& launch : launches) runAlone(launch);
}

void runWaiting()
{
    LaunchQueue& q = launchQueue();
    std::vector<QueuedLaunch> ready;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        ready = std::exchange(q.launches, {});
    }
    runLaunches(ready);
}

// The runtime's hook, before its calls that touch device memory.
void beforeRuntimeCall(const cpu_runtime::MemoryUse* uses, size_t count)
{
    Access access;
    for (size_t i = 0; i < count; ++i) access.add(Range::ofBytes(uses[i].begin, uses[i].bytes), uses[i].written);
    runWaiting();
    restoreTouched(access);
    bookkeeping().clearZeroMasks(access);
}

void installHook()
{
    static const bool installed = (cpu_runtime::setMemoryAccessHook(beforeRuntimeCall), true);
    (void)installed;
}

// Queues a launch. The queue only ever holds the start of one step: a
// launch that does not continue it first runs what waits, and the launch
// that completes it runs the step.
void enqueue(const QueuedLaunch& launch)
{
    installHook();
    LaunchQueue& q = launchQueue();
    std::vector<QueuedLaunch> earlier;
    std::vector<QueuedLaunch> step;
    bool runNow = false;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.launches.size() >= kStepLaunches || kStepShape[q.launches.size()] != kindOf(launch))
            earlier = std::exchange(q.launches, {});
        if (q.launches.empty() && kindOf(launch) != kStepShape[0]) {
            runNow = true;  // only the step's first kind begins one
        } else {
            q.launches.push_back(launch);
            if (q.launches.size() == kStepLaunches) step = std::exchange(q.launches, {});
        }
    }
    runLaunches(earlier);
    if (runNow) runAlone(launch);
    runLaunches(step);
}

}  // namespace

void queueLaunch(const KernelSet& set, const StepLaunch& launch)
{
    enqueue({&set, launch});
}

Access cellLaunchAccess(dim3 grid, dim3 block, std::initializer_list<CellArray> arrays)
{
    const unsigned long long cells = cellsOf(grid, block);
    Access access;
    access.anywhere = !indicesAreExact(cells);
    for (const CellArray& array : arrays) access.addFloats(array.values, cells, array.written);
    return access;
}

void beforeLaunch(const Access& access)
{
    installHook();
    runWaiting();
    restoreTouched(access);
    bookkeeping().clearZeroMasks(access);
}

void beforeRainDrop(dim3 grid, dim3 block, int x, int y, const float* fx, const float* fy, int width, int height)
{
    installHook();
    // The drop writes only cells of the width x height grid, with exact
    // indices while the grid and its square of threads are small enough;
    // direction-major distributions are restored where they overlap the
    // fields.
    const unsigned long long cells = static_cast<unsigned long long>(std::max(width, 0)) * std::max(height, 0);
    const unsigned long long threadsX = cellsOf(dim3(grid.x), dim3(block.x));
    const unsigned long long threadsY = static_cast<unsigned long long>(grid.y) * block.y;
    Access access;
    access.anywhere = width <= 0 || height <= 0 || !indicesAreExact(cells);
    access.addFloats(fx, cells, kWrites);
    access.addFloats(fy, cells, kWrites);
    runWaiting();
    restoreTouched(access);
    if (access.anywhere || !indicesAreExact(threadsX) || !indicesAreExact(threadsY)) {
        bookkeeping().clearZeroMasks(Access::everywhere());
        return;
    }
    const DropFootprint footprint =
        dropFootprint(x, y, static_cast<int>(threadsX), static_cast<int>(threadsY), width, height);
    if (footprint.left > footprint.right) return;
    const unsigned long long columns = static_cast<unsigned long long>(footprint.right - footprint.left + 1);
    for (const float* field : {fx, fy})
        for (long long row = footprint.top; row <= footprint.bottom; ++row) {
            Access written;
            written.addFloats(field + row * width + footprint.left, columns, kWrites);
            bookkeeping().clearZeroMasks(written);
        }
}

void afterForcesCleared(const float* fx, const float* fy, unsigned long long cells)
{
    bookkeeping().markFieldZero(fx, cells);
    bookkeeping().markFieldZero(fy, cells);
}

unsigned long long stepPassesRun()
{
    return passesRun.load();
}

unsigned long long cellOrderRestorations()
{
    return bookkeeping().restorations();
}

unsigned long long stepLaunchesRunAlone()
{
    return launchesRunAlone.load();
}

StepPassTraffic stepPassTraffic()
{
    return {passBytes.load(), passCells.load()};
}

}  // namespace cpu_kernels
