// The rain scheduler against the drops its fixed seed must give: none in
// the first ten frames, then one drop each in frames 11, 29, 37, 54, 55 and
// 64, at the cells listed below. Its generator is one stream for the whole
// process, so this program holds this one test, which follows the stream
// from its start.
#include <utility>

#include "model/grid_size.h"
#include "model/simulation_step.h"
#include "tests/support/device_test_support.h"
#include "tests/support/reference_model.h"

namespace {

struct ListedDrop {
    int frame;
    int column;
    int row;
};

constexpr ListedDrop kFirstDrops[] = {
    {11, 1445, 708}, {29, 2353, 890}, {37, 1152, 965}, {54, 2224, 1200}, {55, 2148, 201}, {64, 2344, 230},
};

// The scheduler rains on force fields that start at zero and are never
// decayed, so after each frame they must hold exactly the listed drops
// that fell so far, each drawn by the plain reference's force disc.
TEST(RainSchedule, TheFixedSeedGivesTheListedDropsInTheListedFrames)
{
    resetBackendTestState();
    ModelPtr basin = makeModel(kGridWidth, kGridHeight);
    ASSERT_NE(basin, nullptr);
    const size_t cells = cellsOf(*basin);
    std::vector<float> fx(cells, 0.0f);
    std::vector<float> fy(cells, 0.0f);
    writeDevice(basin->fx, fx);
    writeDevice(basin->fy, fy);

    auto expectFieldsAsListed = [&](int frame) {
        EXPECT_TRUE(sameBits(readScalarField(*basin, basin->fx), fx, kGridWidth)) << "fx after frame " << frame;
        EXPECT_TRUE(sameBits(readScalarField(*basin, basin->fy), fy, kGridWidth)) << "fy after frame " << frame;
    };
    int frame = 0;
    for (const ListedDrop& drop : kFirstDrops) {
        while (++frame < drop.frame) spawnRainDrops(*basin);
        expectFieldsAsListed(frame - 1);  // nothing fell since the last listed drop

        spawnRainDrops(*basin);
        reference::addRainDrop(fx, fy, kGridWidth, kGridHeight, static_cast<float>(drop.column),
                               static_cast<float>(drop.row), reference::RainSchedule::kStrength,
                               reference::RainSchedule::kRadius);
        expectFieldsAsListed(frame);
    }
    EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

}  // namespace
