// What waits in the launch queue, and when it makes one frame step.
#include "launch_queue.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "cpu_backend/launch_workers.h"
#include "kernels/forcing.h"
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

struct Range {
    uintptr_t begin;
    uintptr_t end;

    bool overlaps(const Range& other) const { return begin < other.end && other.begin < end; }
    bool operator==(const Range& other) const { return begin == other.begin && end == other.end; }
};

Range floats(const void* p, unsigned long long count)
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    return {begin, begin + static_cast<uintptr_t>(count * sizeof(float))};
}

Range bytes(const void* p, size_t count)
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    const uintptr_t end = begin + count < begin ? UINTPTR_MAX : begin + count;
    return {begin, end};
}

// Values that a frame step left owed in f: the collided values that it
// streamed into `source` and did not write back. Streaming moved each of
// them to exactly one place, so they are the inverse streaming of `source`.
struct OwedDistribution {
    const KernelSet* set;
    float* f;
    const float* source;
    int width;
    int height;

    Range fRange() const { return floats(f, static_cast<unsigned long long>(width) * height * 9); }
    Range sourceRange() const { return floats(source, static_cast<unsigned long long>(width) * height * 9); }
};

// What a launch or a runtime call reads and writes: up to five ranges, or
// anywhere (a shape whose extent is not plain, a synchronisation).
struct Touched {
    struct Use {
        Range range;
        bool written;
    };
    Use uses[5];
    int count = 0;
    bool anywhere = false;

    void add(const void* p, unsigned long long floatCount, bool written)
    {
        uses[count++] = {floats(p, floatCount), written};
    }
};

// A force field's segments of kZeroSegmentCells cells (64 bytes) that are
// known to hold only +0.0: set by kInitWaterLB, a memset of zeros, or a
// frame step's decay whose results were all +0.0; cleared by any other
// write. A frame step neither reads nor writes the known ones.
struct KnownZeros {
    const float* field;
    unsigned long long cells;  // a multiple of kZeroSegmentCells
    std::vector<uint8_t> zero;  // per segment: 1 where known

    Range range() const { return floats(field, cells); }

    // Segments first .. end - 1 that `written` overlaps, or covers whole.
    void segmentsOf(const Range& written, bool whole, size_t* first, size_t* end) const
    {
        const Range own = range();
        const uintptr_t begin = std::max(written.begin, own.begin) - own.begin;
        const uintptr_t stop = std::min(written.end, own.end) - own.begin;
        constexpr uintptr_t segmentBytes = kZeroSegmentCells * sizeof(float);
        *first = whole ? (begin + segmentBytes - 1) / segmentBytes : begin / segmentBytes;
        *end = whole ? stop / segmentBytes : (stop + segmentBytes - 1) / segmentBytes;
    }
    void forget(const Range& written)
    {
        if (!written.overlaps(range())) return;
        size_t first = 0, end = 0;
        segmentsOf(written, false, &first, &end);
        std::fill(zero.begin() + static_cast<std::ptrdiff_t>(first), zero.begin() + static_cast<std::ptrdiff_t>(end),
                  0);
    }
    void zeroed(const Range& filled)
    {
        if (!filled.overlaps(range())) return;
        forget(filled);  // partly covered segments
        size_t first = 0, end = 0;
        segmentsOf(filled, true, &first, &end);
        if (first < end)
            std::fill(zero.begin() + static_cast<std::ptrdiff_t>(first),
                      zero.begin() + static_cast<std::ptrdiff_t>(end), 1);
    }
};

struct LaunchQueue {
    std::mutex mutex;
    std::vector<QueuedLaunch> launches;  // never more than one frame's
    std::vector<OwedDistribution> owed;  // at most one per distribution array
    std::vector<KnownZeros> knownZeros;  // per force field that a frame has decayed or kInitWaterLB cleared
};

LaunchQueue& launchQueue()
{
    static LaunchQueue* instance = new LaunchQueue;
    return *instance;
}

std::atomic<unsigned long long> fusedSteps{0};
std::atomic<unsigned long long> owedSettled{0};
std::atomic<unsigned long long> frameStepBytes{0};
std::atomic<unsigned long long> frameStepCells{0};

// One-dimensional kernels index cells by blockIdx.x * blockDim.x +
// threadIdx.x in 24-bit arithmetic: below grid.x * block.x while that is at
// most 2^23, anywhere past it.
bool cellsOfLaunch(dim3 grid, dim3 block, unsigned long long* cells)
{
    *cells = static_cast<unsigned long long>(grid.x) * block.x;
    return *cells <= (1u << 23);
}

Touched touchedBy(const QueuedLaunch& launch)
{
    Touched touched;
    unsigned long long cells = 0;
    switch (launch.kernel) {
    case QueuedKernel::kCollision:
        touched.anywhere = !cellsOfLaunch(launch.grid, launch.block, &cells);
        touched.add(launch.f, cells * 9, true);
        touched.add(launch.fx, cells, false);
        touched.add(launch.fy, cells, false);
        touched.add(launch.h, cells, true);
        break;
    case QueuedKernel::kStream:
        cells = static_cast<unsigned long long>(launch.grid.x) * launch.grid.y * kStreamTile * kStreamTile;
        touched.anywhere = cells > (1u << 23) || launch.block.x != kStreamTileWithBorder ||
                           launch.block.y != kStreamTileWithBorder || launch.block.z != 1;
        touched.add(launch.f, cells * 9, false);
        touched.add(launch.fStream, cells * 9, true);
        break;
    case QueuedKernel::kDecay:
        touched.anywhere = !cellsOfLaunch(launch.grid, launch.block, &cells);
        touched.add(launch.force, cells, true);
        break;
    }
    return touched;
}

// Owed values come due when anything may read or overwrite the array that
// owes them, or change the streamed array they are recovered from. Takes
// them out of the list; the caller pays them, outside the lock.
std::vector<OwedDistribution> takeDue(LaunchQueue& q, const Touched& touched)
{
    std::vector<OwedDistribution> due;
    for (size_t i = 0; i < q.owed.size();) {
        const OwedDistribution& owed = q.owed[i];
        bool isDue = touched.anywhere;
        for (int u = 0; u < touched.count && !isDue; ++u) {
            const Touched::Use& use = touched.uses[u];
            isDue = use.range.overlaps(owed.fRange()) || (use.written && use.range.overlaps(owed.sourceRange()));
        }
        if (isDue) {
            due.push_back(owed);
            q.owed.erase(q.owed.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return due;
}

void pay(const std::vector<OwedDistribution>& due)
{
    for (const OwedDistribution& owed : due) {
        // A frame step leaves values owed only where streaming moves each
        // value once, which is what unstream needs.
        owed.set->unstream(owed.source, owed.f, owed.width, owed.height);
        owedSettled.fetch_add(1);
    }
}

// Pays what a launch or call touching `touched` makes due.
void payDue(const Touched& touched)
{
    LaunchQueue& q = launchQueue();
    std::vector<OwedDistribution> due;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        due = takeDue(q, touched);
    }
    pay(due);
}

// Forgets the known zeros wherever `touched` writes (everywhere, for a
// call that may touch anything). Under the queue's lock.
void forgetZerosWritten(LaunchQueue& q, const Touched& touched)
{
    if (touched.anywhere) {
        q.knownZeros.clear();
        return;
    }
    for (KnownZeros& known : q.knownZeros)
        for (int u = 0; u < touched.count; ++u)
            if (touched.uses[u].written) known.forget(touched.uses[u].range);
}

// The known zeros of a force field of `cells` cells at `field`, created
// (nothing known) where there are none yet.
KnownZeros& knownZerosOf(LaunchQueue& q, const float* field, unsigned long long cells)
{
    for (KnownZeros& known : q.knownZeros)
        if (known.field == field && known.cells == cells) return known;
    q.knownZeros.push_back({field, cells, std::vector<uint8_t>(cells / kZeroSegmentCells, 0)});
    return q.knownZeros.back();
}

void runAlone(const QueuedLaunch& launch)
{
    const Touched touched = touchedBy(launch);
    payDue(touched);
    // A decay rewrites +0.0 as +0.0: what was known stays known.
    if (launch.kernel != QueuedKernel::kDecay || touched.anywhere) {
        LaunchQueue& q = launchQueue();
        std::lock_guard<std::mutex> lock(q.mutex);
        forgetZerosWritten(q, touched);
    }
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
            if (ranges[a].overlaps(ranges[b])) return false;

    *step = FrameStep{collision.f, stream.fStream, fx, fy, collision.h, collision.fInitialized,
                      static_cast<int>(width), static_cast<int>(height), true, nullptr, nullptr, nullptr};
    return true;
}

// Before a frame step: values owed in the step's streaming target are
// cancelled, since the streaming overwrites every one of them and nothing
// else in the step reads them; any other owed values that the step reads or
// whose source it changes are paid first.
void settleBeforeFrameStep(const FrameStep& step)
{
    const unsigned long long cells = static_cast<unsigned long long>(step.width) * step.height;
    const Range target = floats(step.fStream, cells * 9);
    Touched others;
    others.add(step.f, cells * 9, true);  // read, and then collided or owed
    others.add(step.fx, cells, true);
    others.add(step.fy, cells, true);
    others.add(step.h, cells, true);
    LaunchQueue& q = launchQueue();
    std::vector<OwedDistribution> due;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        for (size_t i = 0; i < q.owed.size();) {
            const OwedDistribution& owed = q.owed[i];
            bool readElsewhere = false;
            for (int u = 0; u < others.count; ++u)
                readElsewhere = readElsewhere || others.uses[u].range.overlaps(owed.fRange());
            if (owed.fRange() == target && !readElsewhere)
                q.owed.erase(q.owed.begin() + static_cast<std::ptrdiff_t>(i));
            else
                ++i;
        }
        others.add(step.fStream, cells * 9, true);
        due = takeDue(q, others);
    }
    pay(due);
}

// Gives a frame step the known zeros of its force fields, after
// forgetting those of any other field that the step writes.
void attachKnownZeros(FrameStep* step)
{
    const unsigned long long cells = static_cast<unsigned long long>(step->width) * step->height;
    LaunchQueue& q = launchQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    const Range written[] = {floats(step->f, cells * 9), floats(step->fStream, cells * 9), floats(step->fx, cells),
                             floats(step->fy, cells), floats(step->h, cells)};
    for (KnownZeros& known : q.knownZeros)
        if (!((known.field == step->fx || known.field == step->fy) && known.cells == cells))
            for (const Range& range : written) known.forget(range);
    // Found or created after the forgetting: a field is never its own.
    if (cells % kZeroSegmentCells != 0) return;
    KnownZeros* fx = &knownZerosOf(q, step->fx, cells);
    KnownZeros* fy = &knownZerosOf(q, step->fy, cells);
    fx = &knownZerosOf(q, step->fx, cells);  // the second may have moved the first
    step->fxZeroSegments = fx->zero.data();
    step->fyZeroSegments = fy->zero.data();
}

void runLaunches(const std::vector<QueuedLaunch>& launches)
{
    if (launches.empty()) return;
    FrameStep step;
    if (makeFrameStep(launches, &step)) {
        settleBeforeFrameStep(step);
        attachKnownZeros(&step);
        unsigned long long moved = 0;
        step.movedBytes = &moved;
        const FrameStepRun run = launches[0].set->frameStep(step);
        if (run != FrameStepRun::kNotRun) {
            fusedSteps.fetch_add(1);
            frameStepBytes.fetch_add(moved);
            frameStepCells.fetch_add(static_cast<unsigned long long>(step.width) * step.height);
            if (run == FrameStepRun::kFOwed) {
                LaunchQueue& q = launchQueue();
                std::lock_guard<std::mutex> lock(q.mutex);
                q.owed.push_back({launches[0].set, step.f, step.fStream, step.width, step.height});
            }
            return;
        }
    }
    for (const QueuedLaunch& launch : launches) runAlone(launch);
}

std::vector<QueuedLaunch> takeQueued(LaunchQueue& q)
{
    std::vector<QueuedLaunch> taken;
    taken.swap(q.launches);
    return taken;
}

// Runs what waits, then pays what `touched` makes due and forgets the
// known zeros where it writes (unless told not to).
void runQueuedThenPay(const Touched& touched, bool forgetZeros = true)
{
    LaunchQueue& q = launchQueue();
    std::vector<QueuedLaunch> ready;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        ready = takeQueued(q);
    }
    runLaunches(ready);
    payDue(touched);
    std::lock_guard<std::mutex> lock(q.mutex);
    if (forgetZeros) forgetZerosWritten(q, touched);
}

// The runtime's runner, before its calls that touch device memory.
void runQueuedForRuntime(const cpu_runtime::DeviceSpan* spans, size_t count, bool anywhere)
{
    Touched touched;
    touched.anywhere = anywhere;
    for (size_t i = 0; i < count && !touched.anywhere; ++i) {
        if (touched.count == 5) {
            touched.anywhere = true;
            break;
        }
        touched.uses[touched.count++] = {bytes(spans[i].begin, spans[i].bytes), spans[i].written};
    }
    // A call that may see anywhere (a synchronisation) only reads.
    runQueuedThenPay(touched, !anywhere);
    // A memset of zeros, reported once done: its whole segments are known.
    LaunchQueue& q = launchQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    for (size_t i = 0; i < count && !anywhere; ++i)
        if (spans[i].zeroed)
            for (KnownZeros& known : q.knownZeros) known.zeroed(bytes(spans[i].begin, spans[i].bytes));
}

void installRunner()
{
    // The runtime runs the queue before any call that depends on it.
    static const bool installed = (cpu_runtime::setQueuedLaunchRunner(runQueuedForRuntime), true);
    (void)installed;
}

// Queues a launch. The queue only ever holds the start of one frame: a
// launch that does not continue it first runs what waits, and the launch
// that completes it runs the frame.
void enqueue(const QueuedLaunch& launch)
{
    installRunner();
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
    Touched anywhere;
    anywhere.anywhere = true;
    runQueuedThenPay(anywhere, false);
}

void runQueuedLaunchesBefore(std::initializer_list<LaunchSpan> spans, bool anywhere, bool forgetKnownZeros)
{
    installRunner();
    Touched touched;
    touched.anywhere = anywhere || spans.size() > 5;
    for (const LaunchSpan& span : spans)
        if (!touched.anywhere) touched.add(span.begin, span.floats, span.written);
    runQueuedThenPay(touched, forgetKnownZeros);
}

void noteForcesCleared(const float* fx, const float* fy, unsigned long long cells)
{
    LaunchQueue& q = launchQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    if (cells % kZeroSegmentCells != 0 || cells > (1u << 23)) return;  // forgotten as written already
    for (const float* field : {fx, fy}) {
        knownZerosOf(q, field, cells);
        for (KnownZeros& known : q.knownZeros) known.zeroed(floats(field, cells));
    }
}

void noteRainDropWritten(const float* fx, const float* fy, int width, int height, dim3 grid, dim3 block, int x, int y)
{
    LaunchQueue& q = launchQueue();
    std::lock_guard<std::mutex> lock(q.mutex);
    // The drop writes within its footprint, rows of cells Y * width + X,
    // while its indices are exact; else anything may be written.
    const unsigned long long threadsX = static_cast<unsigned long long>(grid.x) * block.x;
    const unsigned long long threadsY = static_cast<unsigned long long>(grid.y) * block.y;
    if (width <= 0 || height <= 0 || !indicesAreExact(static_cast<unsigned long long>(width) * height) ||
        !indicesAreExact(threadsX) || !indicesAreExact(threadsY)) {
        q.knownZeros.clear();
        return;
    }
    const DropFootprint footprint =
        dropFootprint(x, y, static_cast<int>(threadsX), static_cast<int>(threadsY), width, height);
    if (footprint.left > footprint.right || footprint.top > footprint.bottom) return;
    const unsigned long long columns = static_cast<unsigned long long>(footprint.right - footprint.left + 1);
    for (KnownZeros& known : q.knownZeros)
        for (const float* field : {fx, fy})
            for (long long row = footprint.top; row <= footprint.bottom; ++row)
                known.forget(floats(field + row * width + footprint.left, columns));
}

unsigned long long fusedFrameSteps()
{
    return fusedSteps.load();
}

unsigned long long owedDistributionsPaid()
{
    return owedSettled.load();
}

FrameStepTraffic frameStepTraffic()
{
    return {frameStepBytes.load(), frameStepCells.load()};
}

}  // namespace cpu_kernels
