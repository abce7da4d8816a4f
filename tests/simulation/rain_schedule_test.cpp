// The rain scheduler. Its generator is one stream for the whole process,
// so this program has a single test that follows the stream from its start:
// the first drops where they must fall, then the number of drops of every
// frame, up to and past the first frame that reaches the cap of four.
#include <utility>

#include "app/grid_size.h"
#include "app/simulation_step.h"
#include "reference_model.h"
#include "simulation_test_support.h"

namespace {

// The first frame in which a fifth drop would fall.
constexpr int kFirstCappedFrame = 218917;

int recordedDrops()
{
    int drops = 0;
    for (const auto& launch : cpu_runtime::recordedLaunches()) {
        if (launch.kernel != "kRainDrop") continue;
        EXPECT_EQ(launch.grid.x, 12u);
        EXPECT_EQ(launch.grid.y, 12u);
        EXPECT_EQ(launch.block.x, 16u);
        EXPECT_EQ(launch.block.y, 16u);
        ++drops;
    }
    return drops;
}

// Lets the scheduler rain on a zero force field and checks the field
// against the reference's drops at the given cells.
void expectDropsAt(WaterModel& model, const std::vector<reference::DropCell>& cells, int frame)
{
    const size_t count = cellsOf(model);
    std::vector<float> fx(count, 0.0f);
    std::vector<float> fy(count, 0.0f);
    writeDevice(model.fx, fx);
    writeDevice(model.fy, fy);
    cpu_runtime::clearRecordedLaunches();
    spawnRainDrops(model);
    ASSERT_EQ(recordedDrops(), static_cast<int>(cells.size())) << "frame " << frame;

    for (const auto& cell : cells) {
        reference::addRainDrop(fx, fy, model.width, model.height, static_cast<float>(cell.column),
                               static_cast<float>(cell.row), reference::RainSchedule::kStrength,
                               reference::RainSchedule::kRadius);
    }
    EXPECT_TRUE(sameBits(readScalarField(model, model.fx), fx, model.width)) << "frame " << frame;
    EXPECT_TRUE(sameBits(readScalarField(model, model.fy), fy, model.width)) << "frame " << frame;
}

TEST(RainSchedule, FollowsTheFixedSeedStreamFromItsFirstDraw)
{
    cpu_runtime::recordLaunches(true);
    ModelPtr basin = makeModel(kGridWidth, kGridHeight);
    ASSERT_NE(basin, nullptr);
    reference::RainSchedule schedule;

    // The first drops of the stream for seed 5489, one in each frame.
    const std::pair<int, reference::DropCell> firstDrops[] = {
        {11, {1445, 708}}, {29, {2353, 890}}, {37, {1152, 965}},
        {54, {2224, 1200}}, {55, {2148, 201}}, {64, {2344, 230}},
    };
    int frame = 0;
    for (const auto& [dropFrame, cell] : firstDrops) {
        while (++frame < dropFrame) {
            ASSERT_TRUE(schedule.nextFrame().empty()) << "reference, frame " << frame;
            cpu_runtime::clearRecordedLaunches();
            spawnRainDrops(*basin);
            ASSERT_EQ(recordedDrops(), 0) << "frame " << frame;
        }
        const auto expected = schedule.nextFrame();
        ASSERT_EQ(expected.size(), 1u) << "reference, frame " << frame;
        ASSERT_EQ(expected[0].column, cell.column);
        ASSERT_EQ(expected[0].row, cell.row);
        expectDropsAt(*basin, expected, frame);
    }

    // From here on only the number of drops is followed, on a small model
    // that every drop misses (the kernel is launched all the same), up to
    // the first frame that meets the cap.
    ModelPtr small = makeModel(144, 16);
    ASSERT_NE(small, nullptr);
    int fourDropFrames = 0;
    while (++frame < kFirstCappedFrame) {
        const auto expected = schedule.nextFrame();
        cpu_runtime::clearRecordedLaunches();
        spawnRainDrops(*small);
        const int drops = recordedDrops();
        ASSERT_EQ(drops, static_cast<int>(expected.size())) << "frame " << frame;
        if (drops == 4) ++fourDropFrames;
    }
    EXPECT_EQ(fourDropFrames, 12) << "frames with exactly four drops";

    // Four drops fall, the fifth is not made, and the stream goes on past
    // the probability drawn after the fourth.
    const auto capped = schedule.nextFrame();
    ASSERT_EQ(capped.size(), 4u);
    expectDropsAt(*basin, capped, frame);
    for (int later = 0; later < 300; ++later) {
        ++frame;
        const auto expected = schedule.nextFrame();
        if (expected.empty()) {
            cpu_runtime::clearRecordedLaunches();
            spawnRainDrops(*small);
            ASSERT_EQ(recordedDrops(), 0) << "frame " << frame;
        } else {
            expectDropsAt(*basin, expected, frame);
        }
    }
}

}  // namespace
