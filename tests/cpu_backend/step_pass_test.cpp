// The CPU backend queues a step's collision, streaming and force decays
// and runs them as one pass over memory, which leaves the distributions
// direction-major until something could see them. Whatever the launches
// and whatever comes between them, every array must read, wherever it can
// be read, exactly as when each launch runs alone before the next call
// (the reference here: a device synchronisation after every launch), in
// every compiled set of the kernels.
#include <functional>

#include "model/simulation_step.h"
#include "cpu_backend/dispatch/instruction_set_choice.h"
#include "cpu_backend/dispatch/launch_queue.h"
#include "kernels/kernel_launch.h"
#include "kernels/stream.h"
#include "tests/cpu_backend/cpu_runtime_fixture.h"
#include "tests/support/reference_model.h"
#include "tools/random_test_values.h"

namespace {

class StepPassTest : public KernelSetTest {};
INSTANTIATE_FOR_EVERY_KERNEL_SET(StepPassTest);

// What the launch queue did between two moments: step passes, restorations
// of the cell order, and launches of a step's kinds run one by one.
struct QueueCounts {
    unsigned long long passes;
    unsigned long long restorations;
    unsigned long long runAlone;

    static QueueCounts now()
    {
        return {cpu_kernels::stepPassesRun(), cpu_kernels::cellOrderRestorations(),
                cpu_kernels::stepLaunchesRunAlone()};
    }
    QueueCounts since(const QueueCounts& before) const
    {
        return {passes - before.passes, restorations - before.restorations, runAlone - before.runAlone};
    }
    bool operator==(const QueueCounts& o) const
    {
        return passes == o.passes && restorations == o.restorations && runAlone == o.runAlone;
    }
    friend std::ostream& operator<<(std::ostream& out, const QueueCounts& c)
    {
        return out << c.passes << " passes, " << c.restorations << " restorations, " << c.runAlone << " run alone";
    }
};

// One step's device arrays on a grid of tilesX x tilesY streaming tiles,
// filled with near-still water and forces with edge values mixed in.
struct StepArrays {
    int width;
    int height;
    float* f = nullptr;
    float* fStream = nullptr;
    float* fx = nullptr;
    float* fy = nullptr;
    float* h = nullptr;

    StepArrays(unsigned tilesX, unsigned tilesY, unsigned seed)
        : width(static_cast<int>(tilesX) * kStreamTile), height(static_cast<int>(tilesY) * kStreamTile)
    {
        const size_t n = cells();
        std::vector<float> values = randomValuesWithEdges(n * 9, 0.0f, 0.01f, seed);
        for (float& v : values) v = std::fabs(v) + 0.001f;
        for (float** p : {&f, &fStream}) EXPECT_EQ(cudaMalloc(reinterpret_cast<void**>(p), n * 36), cudaSuccess);
        for (float** p : {&fx, &fy, &h}) EXPECT_EQ(cudaMalloc(reinterpret_cast<void**>(p), n * 4), cudaSuccess);
        writeDevice(f, values);
        writeDevice(fStream, randomValuesWithEdges(n * 9, 0.0f, 1.0f, seed + 1));
        writeDevice(fx, randomValuesWithEdges(n, 0.0f, 5e-5f, seed + 2));
        writeDevice(fy, randomValuesWithEdges(n, 0.0f, 5e-5f, seed + 3));
        writeDevice(h, randomValuesWithEdges(n, 0.05f, 0.01f, seed + 4));
    }
    ~StepArrays()
    {
        for (float* p : {f, fStream, fx, fy, h}) cudaFree(p);
    }

    // What the launches showed along the way: copies read back at chosen
    // points, compared between the two runs as the final contents are.
    mutable std::vector<std::vector<float>> seen;
    void see(const float* p, size_t count) const { seen.push_back(readDevice(p, count)); }

    size_t cells() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }

    // Every array, f and fStream included, in one list.
    std::vector<std::vector<float>> contents() const
    {
        return {readDevice(f, cells() * 9), readDevice(fStream, cells() * 9), readDevice(fx, cells()),
                readDevice(fy, cells()), readDevice(h, cells())};
    }

    // The launches of one step in the model's shapes: one-dimensional
    // blocks (a row of cells, or the model's 576 where rows are longer than
    // a block may be), the streaming's 18 x 18 tiles.
    unsigned blockCells() const { return width <= 1024 ? static_cast<unsigned>(width) : 576u; }
    dim3 cellGrid() const { return dim3(static_cast<unsigned>(cells() / blockCells())); }
    void collide(bool fInitialized) const
    {
        launchCollision3(cellGrid(), dim3(blockCells()), f, fx, fy, h, fInitialized);
    }
    void stream() const { launchStream(dim3(width / kStreamTile, height / kStreamTile), dim3(18, 18), f, fStream); }
    void decay(float* force) const { launchIncrementForce(cellGrid(), dim3(blockCells()), force); }
};

// Runs `launches` twice on identical arrays: as they come (the queue free
// to fuse), and with a synchronisation after each step. Returns how many
// step passes ran in the first run; the contents must agree.
unsigned long long runBothWays(unsigned tilesX, unsigned tilesY, unsigned seed,
                               const std::function<void(const StepArrays&, const std::function<void()>&)>& launches)
{
    StepArrays queued(tilesX, tilesY, seed);
    StepArrays alone(tilesX, tilesY, seed);
    const unsigned long long before = cpu_kernels::stepPassesRun();
    launches(queued, [] {});
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
    const std::vector<std::vector<float>> queuedContents = queued.contents();
    const unsigned long long fused = cpu_kernels::stepPassesRun() - before;
    const unsigned long long restoredBefore = cpu_kernels::cellOrderRestorations();
    launches(alone, [] { EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess); });
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
    EXPECT_EQ(cpu_kernels::stepPassesRun() - before, fused) << "a synchronised launch must run alone";

    EXPECT_EQ(cpu_kernels::cellOrderRestorations() - restoredBefore, 0u)
        << "with a synchronisation after every launch nothing is ever left direction-major";

    const char* names[] = {"f", "fStream", "fx", "fy", "h"};
    const std::vector<std::vector<float>> aloneContents = alone.contents();
    for (size_t a = 0; a < 5; ++a)
        EXPECT_TRUE(sameBits(queuedContents[a], aloneContents[a], queued.width, a < 2 ? 9 : 1)) << names[a];
    EXPECT_EQ(queued.seen.size(), alone.seen.size());
    for (size_t i = 0; i < std::min(queued.seen.size(), alone.seen.size()); ++i)
        EXPECT_TRUE(sameBits(queued.seen[i], alone.seen[i], queued.width, 9)) << "read back " << i;
    return fused;
}

TEST_P(StepPassTest, AStepsLaunchesRunAsOnePassWithTheResultsOfEachAlone)
{
    // One tile (every cell on a wall); rows shorter than a chunk of the
    // collision, or ending in part of one; a grid whose workers take one or
    // two rows; and a wide grid in the application's row shape.
    for (const dim3 tiles : {dim3(1, 1), dim3(1, 6), dim3(2, 5), dim3(3, 1), dim3(5, 4), dim3(168, 3)})
        for (const bool fInitialized : {false, true}) {
            SCOPED_TRACE(testing::Message() << tiles.x << " x " << tiles.y << " tiles, fInitialized "
                                            << fInitialized);
            const unsigned long long fused =
                runBothWays(tiles.x, tiles.y, tiles.x + 7 * tiles.y, [&](const StepArrays& a, const auto& step) {
                    StepArrays& swapped = const_cast<StepArrays&>(a);
                    // Two steps as the program runs them, the second with
                    // its decays the other way round...
                    a.collide(fInitialized), step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
                    std::swap(swapped.f, swapped.fStream);
                    a.collide(kFromDistributions), step(), a.stream(), step(), a.decay(a.fy), step(), a.decay(a.fx), step();
                    // ...and a third on the same f, without the exchange.
                    a.collide(kFromDistributions), step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
                });
            EXPECT_EQ(fused, 3u);
        }
}

TEST_P(StepPassTest, EveryStepOfTheProgramRunsAsOnePassThatRestoresNothing)
{
    // The program's own step (advanceOneStep: the water, then the rain)
    // with mouse drops before some steps and the pixels after each, as the
    // window makes them, on the application's row length: each step one
    // pass, continuing from the collided values of the step before, and no
    // restoration; the results the reference's, bit for bit.
    constexpr int kSteps = 300;
    constexpr int kWidth = kGridWidth;
    constexpr int kHeight = 48;
    ModelPtr model = makeModel(kWidth, kHeight);
    ASSERT_NE(model, nullptr);
    unsigned int* pixels = nullptr;
    ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&pixels), cellsOf(*model) * sizeof(unsigned int)), cudaSuccess);
    restartRain();
    reference::Model expected(kWidth, kHeight);
    reference::RainSchedule rain;
    int rainOnTheGrid = 0;
    int32_t frameCounter = 0;
    for (int step = 0; step < kSteps; ++step) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        if (step % 23 == 3) {  // a click, anywhere on the grid, a wall included
            const float x = static_cast<float>(step * 389 % kWidth);
            const float y = static_cast<float>(step % 5 == 0 ? kHeight - 1 : step * 7 % kHeight);
            ASSERT_TRUE(model->addRainDrop(x, y, kDropStrength, kDropRadius));
            expected.addRainDrop(x, y, kDropStrength, kDropRadius);
        }
        const QueueCounts before = QueueCounts::now();
        ASSERT_TRUE(advanceOneStep(*model, frameCounter));
        ASSERT_EQ(model->writeDepthPixels(pixels), cudaSuccess);
        ASSERT_EQ(QueueCounts::now().since(before), (QueueCounts{1, 0, 0}));

        const std::vector<reference::DropCell> drops = rain.nextFrame();
        for (const reference::DropCell& drop : drops) rainOnTheGrid += drop.row < kHeight + kDropRadius;
        reference::advanceFrame(expected, step == 0, drops);
        if (step % 50 == 49) {
            ASSERT_TRUE(sameBits(readScalarField(*model, model->h), expected.h, kWidth));
        }
    }
    EXPECT_GT(rainOnTheGrid, 0) << "no rain drop reached the grid";
    EXPECT_TRUE(sameBits(readDevice(pixels, cellsOf(*model)), expected.pixels, kWidth));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fx), expected.fx, kWidth));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fy), expected.fy, kWidth));
    const QueueCounts beforeReading = QueueCounts::now();
    EXPECT_TRUE(sameBits(readDistribution(*model, model->f), expected.f, kWidth, 9));
    EXPECT_EQ(QueueCounts::now().since(beforeReading).restorations, 1u) << "reading f restores its cell order";
    EXPECT_EQ(cudaFree(pixels), cudaSuccess);
    restartRain();
}

TEST_P(StepPassTest, AStepOfAnotherShapeShowsInTheCounts)
{
    // Steps that the launch queue cannot run as the program's step: still
    // correct, but launch by launch, or restoring the cell order each time.
    ModelPtr model = makeModel(288, 32);
    ASSERT_NE(model, nullptr);
    WaterModel& m = *model;
    m.collide(kFromStillWater), m.stream(), m.swapDistributions(), m.decayForces();
    struct Case {
        const char* what;
        std::function<void()> step;
        QueueCounts expected;
    };
    const Case cases[] = {
        {"the program's step", [&] { m.collide(kFromDistributions), m.stream(), m.swapDistributions(), m.decayForces(); }, {1, 0, 0}},
        {"the decays before the streaming",
         [&] { m.collide(kFromDistributions), m.decayForces(), m.stream(), m.swapDistributions(); },
         {0, 0, 4}},
        {"no swap of the distributions", [&] { m.collide(kFromDistributions), m.stream(), m.decayForces(); }, {1, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.step();  // from whatever the case before left
        const QueueCounts before = QueueCounts::now();
        c.step();
        EXPECT_EQ(QueueCounts::now().since(before), c.expected);
    }
}

TEST_P(StepPassTest, WhatComesBetweenAStepsLaunchesMakesThemRunOneByOne)
{
    using Step = std::function<void()>;
    struct Case {
        const char* what;
        std::function<void(const StepArrays&, const Step&)> step;
        unsigned long long onePassSteps;
    };
    const Case cases[] = {
        {"a copy reads f between the collision and the streaming",
         [](const StepArrays& a, const Step& step) {
             a.collide(kFromDistributions), step();
             std::vector<float> read(a.cells() * 9);
             EXPECT_EQ(cudaMemcpy(read.data(), a.f, read.size() * 4, cudaMemcpyDeviceToHost), cudaSuccess);
             a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
         },
         0},
        {"a rain drop between the streaming and the decays",
         [](const StepArrays& a, const Step& step) {
             a.collide(kFromDistributions), step(), a.stream(), step();
             launchRainDrop(dim3(2, 2), dim3(16, 16), a.width / 2, a.height / 2, 10.0f, 0.004f, a.fx, a.fy, a.width,
                            a.height);
             step(), a.decay(a.fx), step(), a.decay(a.fy), step();
         },
         0},
        {"a rejected streaming launch, reported at the call",
         [](const StepArrays& a, const Step& step) {
             a.collide(kFromDistributions), step();
             launchStream(dim3(a.width / kStreamTile, a.height / kStreamTile), dim3(18, 18, 4), a.f, a.fStream);
             EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
             step(), a.decay(a.fx), step(), a.decay(a.fy), step();
         },
         0},
        {"one force field decayed twice",
         [](const StepArrays& a, const Step& step) {
             a.collide(kFromDistributions), step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fx), step();
         },
         0},
        {"the depth written into the streaming's target",
         [](const StepArrays& a, const Step& step) {
             launchCollision3(a.cellGrid(), dim3(a.blockCells()), a.f, a.fx, a.fy, a.fStream + 5, kFromDistributions);
             step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
         },
         0},
        {"a step begun again before it ended, then whole",
         [](const StepArrays& a, const Step& step) {
             a.collide(kFromDistributions), step(), a.stream(), step();
             a.collide(kFromDistributions), step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(runBothWays(3, 2, 11, c.step), c.onePassSteps);
    }
}

TEST_P(StepPassTest, TheCellOrderIsRestoredWhereverTheDistributionsCouldBeSeen)
{
    using Step = std::function<void()>;
    // The program's step: after it f holds the collided values
    // direction-major, their streaming into fStream deferred.
    auto wholeStep = [](const StepArrays& a, const Step& step) {
        a.collide(kFromDistributions), step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
    };
    struct Case {
        const char* what;
        std::function<void(const StepArrays&, const Step&)> launches;
    };
    const Case cases[] = {
        {"a copy from f",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             a.see(a.f, a.cells() * 9);
         }},
        {"a copy into part of fStream",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             const std::vector<float> values(a.cells(), 0.25f);
             EXPECT_EQ(cudaMemcpy(a.fStream + a.cells(), values.data(), values.size() * 4, cudaMemcpyHostToDevice),
                       cudaSuccess);
         }},
        {"a memset of fStream",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             EXPECT_EQ(cudaMemset(a.fStream, 0, a.cells() * 36), cudaSuccess);
         }},
        {"a streaming launch that reads f",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             a.stream(), step();
         }},
        {"a collision of fStream, in place, before a rain drop",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             launchCollision3(a.cellGrid(), dim3(a.blockCells()), a.fStream, a.fx, a.fy, a.h, kFromDistributions);
             step();
             launchRainDrop(dim3(1, 1), dim3(16, 16), 3, 3, 4.0f, 0.004f, a.fx, a.fy, a.width, a.height);
             step();
             a.see(a.f, a.cells() * 9);
         }},
        {"a second step on the same arrays, which reads f",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             wholeStep(a, step);
         }},
        {"steps as the program runs them, each continuing from the collided values the one before left",
         [&](const StepArrays& a, const Step& step) {
             StepArrays& swapped = const_cast<StepArrays&>(a);
             for (int i = 0; i < 3; ++i) {
                 wholeStep(a, step);
                 std::swap(swapped.f, swapped.fStream);
             }
             a.see(a.fStream, a.cells() * 9);
         }},
    };
    // One tile, whose every cell is in a tile on the walls; narrow rows;
    // and bands of many rows, so that each worker's buffer of collided rows
    // is reused.
    for (const dim3 tiles : {dim3(1, 1), dim3(3, 2), dim3(4, 9)})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << ", " << tiles.x << " x " << tiles.y << " tiles");
            const unsigned long long restoredBefore = cpu_kernels::cellOrderRestorations();
            EXPECT_GE(runBothWays(tiles.x, tiles.y, 5 + tiles.y, c.launches), 1u);
            EXPECT_GE(cpu_kernels::cellOrderRestorations() - restoredBefore, 1u) << "nothing was restored";
        }
}

TEST_P(StepPassTest, ASynchronisationWaitsAndRestoresNothingACopyOfTheDistributionsRestores)
{
    StepArrays a(3, 2, 13);
    QueueCounts before = QueueCounts::now();
    a.collide(kFromDistributions);
    EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    EXPECT_EQ(QueueCounts::now().since(before), (QueueCounts{0, 0, 1})) << "the waiting collision ran";
    a.stream(), a.decay(a.fx), a.decay(a.fy);  // no step: it began before the synchronisation
    a.collide(kFromDistributions), a.stream(), a.decay(a.fx), a.decay(a.fy);

    before = QueueCounts::now();
    EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    EXPECT_EQ(cudaEventRecord(nullptr), cudaErrorInvalidResourceHandle);
    cudaGetLastError();
    a.see(a.h, a.cells());
    EXPECT_EQ(QueueCounts::now().since(before), (QueueCounts{0, 0, 0}));
    a.see(a.fStream + a.cells() * 9 - 1, 1);
    EXPECT_EQ(QueueCounts::now().since(before), (QueueCounts{0, 1, 0})) << "a copy of one distribution value";
}

TEST_P(StepPassTest, TheZeroMaskIsClearedWhereverAForceFieldIsWritten)
{
    using Step = std::function<void()>;
    auto wholeStep = [](const StepArrays& a, const Step& step) {
        a.collide(kFromDistributions), step(), a.stream(), step(), a.decay(a.fx), step(), a.decay(a.fy), step();
    };
    // Still forces, as the model starts: kInitWaterLB clears both fields.
    auto init = [](const StepArrays& a, const Step& step) {
        launchInitWaterLB(a.cellGrid(), dim3(a.blockCells()), a.h, a.fx, a.fy);
        step();
    };
    auto drop = [](const StepArrays& a, int x, int y, float radius) {
        const unsigned blocks = static_cast<unsigned>(2.0f * radius * 0.0625f) + 1;
        launchRainDrop(dim3(blocks, blocks), dim3(16, 16), x, y, radius, 0.004f, a.fx, a.fy, a.width, a.height);
    };
    // Values that are not +0.0 although they compare equal to it, or nearly.
    auto copyInto = [](float* field, size_t first, std::vector<float> values) {
        EXPECT_EQ(cudaMemcpy(field + first, values.data(), values.size() * 4, cudaMemcpyHostToDevice), cudaSuccess);
    };
    const std::vector<float> notPositiveZero = {-0.0f, 1e-40f, -1e-40f, -0.0f, 3e-5f};
    struct Case {
        const char* what;
        std::function<void(const StepArrays&, const Step&)> launches;
    };
    const Case cases[] = {
        {"rain drops whose discs reach one cell into a line, at the corners and across a row's end",
         [&](const StepArrays& a, const Step& step) {
             init(a, step), wholeStep(a, step), wholeStep(a, step);
             drop(a, 15, 20, 1.0f);  // columns 14 to 16: the next line's first cell
             drop(a, 0, 0, 3.0f), drop(a, a.width - 1, a.height - 1, 3.0f), drop(a, a.width - 1, 30, 2.0f);
             step(), wholeStep(a, step), wholeStep(a, step);
         }},
        {"a copy of negative zeros and subnormals into still forces",
         [&](const StepArrays& a, const Step& step) {
             init(a, step), wholeStep(a, step);
             copyInto(a.fx, a.cells() / 2 + 3, notPositiveZero), copyInto(a.fy, 47, notPositiveZero);
             step(), wholeStep(a, step), wholeStep(a, step);
         }},
        {"a memset of zeros over part of two lines, then of all of one",
         [&](const StepArrays& a, const Step& step) {
             wholeStep(a, step);
             EXPECT_EQ(cudaMemset(a.fx + 8, 0, 20 * 4), cudaSuccess);
             EXPECT_EQ(cudaMemset(a.fy + 32, 0, 16 * 4), cudaSuccess);
             step(), wholeStep(a, step), wholeStep(a, step);
         }},
        {"a memset of bytes other than zero over still forces",
         [&](const StepArrays& a, const Step& step) {
             init(a, step), wholeStep(a, step);
             EXPECT_EQ(cudaMemset(a.fy + 64, 0x37, 16 * 4), cudaSuccess);  // 1.1e-5 in every cell
             step(), wholeStep(a, step), wholeStep(a, step);
         }},
        {"a decay launched alone, and a collision that writes its depth into a force field",
         [&](const StepArrays& a, const Step& step) {
             init(a, step), wholeStep(a, step);
             copyInto(a.fx, 100, notPositiveZero);
             a.decay(a.fx), step();
             launchCollision3(a.cellGrid(), dim3(a.blockCells()), a.f, a.fx, a.fy, a.fy, kFromDistributions);
             step(), wholeStep(a, step), wholeStep(a, step);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_GE(runBothWays(4, 3, 23, c.launches), 2u);
    }
}

TEST_P(StepPassTest, AStepPassNeitherReadsNorWritesMaskedForceLines)
{
    // White box: a value that no runtime call can have seen (stored through
    // the host pointer, which only the CPU backend allows) inside a line
    // masked as holding +0.0 must be neither read nor rewritten by a step pass:
    // its step streams exactly what the same step streams with still
    // forces, and the value stays.
    StepArrays planted(4, 3, 31);
    StepArrays still(4, 3, 31);
    const size_t cell = 5 * kZeroMaskLineCells + 2;
    for (const StepArrays* a : {&planted, &still}) {
        launchInitWaterLB(a->cellGrid(), dim3(a->blockCells()), a->h, a->fx, a->fy);
        a->collide(kFromDistributions), a->stream(), a->decay(a->fx), a->decay(a->fy);
        ASSERT_EQ(cudaEventRecord(nullptr), cudaErrorInvalidResourceHandle);  // runs the step, looks at nothing
        cudaGetLastError();
    }
    planted.fx[cell] = 0.001f;
    for (const StepArrays* a : {&planted, &still}) a->collide(kFromDistributions), a->stream(), a->decay(a->fx), a->decay(a->fy);
    EXPECT_TRUE(sameBits(readDevice(planted.fStream, planted.cells() * 9), readDevice(still.fStream, still.cells() * 9),
                         planted.width, 9));
    EXPECT_EQ(readDevice(planted.fx, planted.cells())[cell], 0.001f) << "a masked line was written";
}

TEST_P(StepPassTest, StepPassesAndTheRestoredCellOrderGiveTheArraysOfTheLaunches)
{
    // The compiled set's step pass called directly, for two steps as the
    // program runs them (the second pulling from the first's collided
    // values), then its restoration of the cell order: every array, f and
    // fStream included, as the launches leave them, with workers taking
    // one or two rows, and wide rows.
    for (const dim3 tiles : {dim3(3, 1), dim3(168, 3)}) {
        SCOPED_TRACE(testing::Message() << tiles.x << " x " << tiles.y << " tiles");
        StepArrays fused(tiles.x, tiles.y, 41);
        StepArrays alone(tiles.x, tiles.y, 41);
        alone.collide(kFromDistributions), alone.stream(), alone.decay(alone.fx), alone.decay(alone.fy);
        std::swap(alone.f, alone.fStream);
        alone.collide(kFromDistributions), alone.stream(), alone.decay(alone.fx), alone.decay(alone.fy);
        ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
        const KernelSet& set = cpu_kernels::activeKernelSet();
        StepPass pass;
        pass.f = fused.f, pass.fStream = fused.fStream, pass.fx = fused.fx, pass.fy = fused.fy, pass.h = fused.h;
        pass.width = fused.width, pass.height = fused.height;
        EXPECT_TRUE(set.stepPass(pass));
        std::swap(pass.f, pass.fStream);
        pass.collidedInFStream = true;
        EXPECT_TRUE(set.stepPass(pass));
        EXPECT_TRUE(set.restoreCellMajor(pass.f, pass.fStream, pass.width, pass.height));
        std::swap(fused.f, fused.fStream);
        const char* names[] = {"f", "fStream", "fx", "fy", "h"};
        const std::vector<std::vector<float>> fusedContents = fused.contents();
        const std::vector<std::vector<float>> aloneContents = alone.contents();
        for (size_t a = 0; a < 5; ++a)
            EXPECT_TRUE(sameBits(fusedContents[a], aloneContents[a], fused.width, a < 2 ? 9 : 1)) << names[a];
    }
}

}  // namespace
