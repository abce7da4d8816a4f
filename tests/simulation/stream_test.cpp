// Streaming with bounce-back walls: single values at edges, corners and
// tile borders, still water, and the exact permutation of a whole field.
#include <algorithm>
#include <numeric>

#include "tests/support/reference_model.h"
#include "tests/support/device_test_support.h"

namespace {

struct Placement {
    int x;
    int y;
    int k;
};

struct Move {
    const char* what;
    Placement from;
    Placement to;
};

class Streaming : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        model = makeModel(48, 48);  // three tiles each way
        ASSERT_NE(model, nullptr);
    }

    size_t slot(const Placement& p) const { return (static_cast<size_t>(p.y) * model->width + p.x) * 9 + p.k; }

    ModelPtr model;
};

TEST_F(Streaming, SingleValueTravelsOrBouncesBackAsTheWallsSay)
{
    const int right = 47;
    const int top = 47;
    const Move moves[] = {
        {"inner cell, +x", {20, 20, 1}, {21, 20, 1}},
        {"inner cell, diagonal", {20, 20, 6}, {19, 19, 6}},
        {"east wall", {right, 9, 1}, {right, 9, 5}},
        {"north wall", {30, top, 3}, {30, top, 7}},
        {"west wall", {0, 9, 5}, {0, 9, 1}},
        {"south wall", {30, 0, 7}, {30, 0, 3}},
        {"corner (0, 0)", {0, 0, 6}, {0, 0, 2}},
        {"diagonal into the east wall", {right, 5, 2}, {right, 5, 6}},
        {"diagonal out past the west wall", {0, 7, 4}, {0, 7, 8}},
        {"diagonal along the north wall", {10, top, 2}, {10, top, 6}},
        {"corner (W-1, H-1)", {right, top, 2}, {right, top, 6}},
        {"corner (W-1, 0)", {right, 0, 8}, {right, 0, 4}},
        {"corner (0, H-1)", {0, top, 4}, {0, top, 8}},
        {"rest value stays", {0, 0, 0}, {0, 0, 0}},
        {"across a tile's east border", {15, 3, 1}, {16, 3, 1}},
        {"across a tile's west border", {16, 3, 5}, {15, 3, 5}},
        {"across a tile's north border", {40, 31, 3}, {40, 32, 3}},
        {"across a tile's south border", {40, 32, 7}, {40, 31, 7}},
        {"across a tile corner, +x+y", {15, 15, 2}, {16, 16, 2}},
        {"across a tile corner, -x-y", {32, 32, 6}, {31, 31, 6}},
        {"across a tile corner, -x+y", {16, 15, 4}, {15, 16, 4}},
        {"across a tile corner, +x-y", {31, 32, 8}, {32, 31, 8}},
    };
    const size_t values = cellsOf(*model) * 9;
    for (const Move& move : moves) {
        std::vector<float> f(values, 0.0f);
        f[slot(move.from)] = 1.5f;
        writeDevice(model->f, f);
        ASSERT_TRUE(model->stream());
        const auto streamed = readDistribution(*model, model->fStream);
        std::vector<size_t> nonZero;
        for (size_t i = 0; i < values; ++i)
            if (streamed[i] != 0.0f) nonZero.push_back(i);
        ASSERT_EQ(nonZero.size(), 1u) << move.what;
        EXPECT_EQ(nonZero[0], slot(move.to)) << move.what;
        EXPECT_EQ(streamed[nonZero[0]], 1.5f) << move.what;
    }
}

TEST_F(Streaming, StillWaterAtEquilibriumIsUnchangedEdgesIncluded)
{
    ASSERT_TRUE(model->collide(kFromStillWater));
    const auto before = readDistribution(*model, model->f);
    ASSERT_TRUE(model->stream());
    EXPECT_TRUE(sameBits(readDistribution(*model, model->fStream), before, model->width, 9));
}

// Every value distinct: the output must be the reference's permutation of
// the input, with the same multiset and total, on grids of one tile's
// height or width as well.
TEST(StreamingPermutation, EveryValueLandsInExactlyOnePlace)
{
    const int sizes[][2] = {{48, 48}, {144, 16}, {16, 144}};
    for (const auto& size : sizes) {
        ModelPtr model = makeModel(size[0], size[1]);
        ASSERT_NE(model, nullptr);
        reference::Model expected(size[0], size[1]);
        std::iota(expected.f.begin(), expected.f.end(), 1.0f);
        writeDevice(model->f, expected.f);

        ASSERT_TRUE(model->stream());
        expected.stream();
        auto streamed = readDistribution(*model, model->fStream);
        EXPECT_TRUE(sameBits(streamed, expected.fStream, size[0], 9)) << size[0] << " x " << size[1];

        const double total = std::accumulate(expected.f.begin(), expected.f.end(), 0.0);
        EXPECT_EQ(std::accumulate(streamed.begin(), streamed.end(), 0.0), total);
        std::sort(streamed.begin(), streamed.end());
        EXPECT_TRUE(std::equal(streamed.begin(), streamed.end(), expected.f.begin())) << "not a permutation";
    }
}

}  // namespace
