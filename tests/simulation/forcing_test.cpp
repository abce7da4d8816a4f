// Rain drops and the decay of the forces, on the application's grid.
#include <algorithm>
#include <cmath>

#include "model/grid_size.h"
#include "kernels/forcing.h"
#include "kernels/kernel_launch.h"
#include "tests/support/reference_model.h"
#include "tests/support/device_test_support.h"

namespace {

constexpr float kStrength = 0.0002f;
constexpr float kRadius = 89.6f;
constexpr float kUntouched = 7.0f;  // marks cells no drop has written

class RainDrop : public ApplicationSizeModelTest {
protected:
    void SetUp() override
    {
        ApplicationSizeModelTest::SetUp();
        fillForces(kUntouched);
    }

    static void fillForces(float value)
    {
        writeDevice(model->fx, std::vector<float>(cellsOf(*model), value));
        writeDevice(model->fy, std::vector<float>(cellsOf(*model), value));
    }

    static size_t at(int x, int y) { return static_cast<size_t>(y) * kGridWidth + x; }

    // Cells whose force a drop has written.
    static std::vector<size_t> writtenCells(const std::vector<float>& fx, const std::vector<float>& fy)
    {
        std::vector<size_t> written;
        for (size_t i = 0; i < fx.size(); ++i)
            if (fx[i] != kUntouched || fy[i] != kUntouched) written.push_back(i);
        return written;
    }
};

TEST_F(RainDrop, PushesOutwardStrongestHalfwayAndNotAtCentreOrRim)
{
    ASSERT_TRUE(model->addRainDrop(1000.0f, 700.0f, kStrength, kRadius));
    const auto fx = readScalarField(*model, model->fx);
    const auto fy = readScalarField(*model, model->fy);

    EXPECT_EQ(bitsOf(fx[at(1000, 700)]), 0u) << "centre: positive zero";
    EXPECT_EQ(bitsOf(fy[at(1000, 700)]), 0u);
    EXPECT_NEAR(fx[at(1045, 700)], 4.9999e-5f, 1e-9f);
    EXPECT_EQ(bitsOf(fy[at(1045, 700)]), 0u);
    EXPECT_EQ(fx[at(955, 700)], -fx[at(1045, 700)]);
    EXPECT_EQ(fy[at(1000, 745)], fx[at(1045, 700)]) << "same push along the column";
    EXPECT_EQ(fy[at(1000, 655)], -fx[at(1045, 700)]);
    EXPECT_EQ(fx[at(1090, 700)], kUntouched) << "beyond the rim";
    EXPECT_GT(fx[at(1089, 700)], 0.0f) << "just inside the rim, pushed out";
    EXPECT_LT(fx[at(1089, 700)], 2e-6f);

    // 45 cells out is the strongest component anywhere in the disc.
    float strongest = 0.0f;
    for (size_t i : writtenCells(fx, fy)) strongest = std::max({strongest, std::fabs(fx[i]), std::fabs(fy[i])});
    EXPECT_EQ(strongest, fx[at(1045, 700)]);
}

TEST_F(RainDrop, RimCellsAtExactlyTheRadiusGetNoForce)
{
    // Radius 5 puts whole cells on the rim: (5, 0) and (3, 4) out.
    ASSERT_TRUE(model->addRainDrop(500.0f, 500.0f, kStrength, 5.0f));
    const auto fx = readScalarField(*model, model->fx);
    const auto fy = readScalarField(*model, model->fy);
    for (auto [x, y] : {std::pair{505, 500}, {495, 500}, {503, 504}, {497, 496}, {500, 505}}) {
        EXPECT_EQ(fx[at(x, y)], 0.0f) << x << ", " << y;
        EXPECT_EQ(fy[at(x, y)], 0.0f) << x << ", " << y;
    }
    EXPECT_EQ(fx[at(506, 500)], kUntouched);
    EXPECT_EQ(fx[at(504, 504)], kUntouched) << "distance 5.66";
}

TEST_F(RainDrop, InnerDropWritesTheWholeDisc)
{
    ASSERT_TRUE(model->addRainDrop(1400.0f, 800.0f, kStrength, kRadius));
    const auto written = writtenCells(readScalarField(*model, model->fx), readScalarField(*model, model->fy));
    EXPECT_EQ(written.size(), 25233u);
}

TEST_F(RainDrop, DropsAtCornersAndEdgesAreClippedNeverWrapped)
{
    const float lastX = kGridWidth - 1;
    const float lastY = kGridHeight - 1;
    struct Case {
        float x, y;
        int minX, maxX, minY, maxY;  // the part of the disc inside the grid
    } cases[] = {
        {0, 0, 0, 89, 0, 89},
        {lastX, lastY, kGridWidth - 90, kGridWidth - 1, kGridHeight - 90, kGridHeight - 1},
        {lastX, 0, kGridWidth - 90, kGridWidth - 1, 0, 89},
        {1300, lastY, 1211, 1389, kGridHeight - 90, kGridHeight - 1},
    };
    for (const Case& c : cases) {
        fillForces(kUntouched);
        ASSERT_TRUE(model->addRainDrop(c.x, c.y, kStrength, kRadius));
        const auto fx = readScalarField(*model, model->fx);
        const auto fy = readScalarField(*model, model->fy);

        // The count of lattice points of the disc that lie in the grid.
        size_t expectedCount = 0;
        for (int dy = -90; dy <= 90; ++dy)
            for (int dx = -90; dx <= 90; ++dx) {
                const int x = static_cast<int>(c.x) + dx;
                const int y = static_cast<int>(c.y) + dy;
                if (x < 0 || x >= kGridWidth || y < 0 || y >= kGridHeight) continue;
                if (std::sqrt(static_cast<float>(dx * dx + dy * dy)) <= kRadius) ++expectedCount;
            }
        const auto written = writtenCells(fx, fy);
        EXPECT_EQ(written.size(), expectedCount) << "drop at " << c.x << ", " << c.y;
        for (size_t i : written) {
            const int x = static_cast<int>(i % kGridWidth);
            const int y = static_cast<int>(i / kGridWidth);
            ASSERT_TRUE(x >= c.minX && x <= c.maxX && y >= c.minY && y <= c.maxY)
                << "drop at " << c.x << ", " << c.y << " wrote " << x << ", " << y;
        }
    }
}

TEST_F(RainDrop, ADropWritesExactlyItsFootprintWhateverItsSquareAndPlace)
{
    // With a radius no cell reaches, every thread of the square writes its
    // cell: the cells written must be dropFootprint's rectangle, no more and
    // no fewer (the CPU backend's zero mask forgets exactly that rectangle).
    struct Case {
        unsigned blocksX, blocksY;
        int x, y;
    } cases[] = {{1, 1, 1400, 800}, {3, 2, 0, 0}, {2, 3, kGridWidth - 1, kGridHeight - 1},
                 {5, 1, -40, 700}, {2, 4, kGridWidth + 10, 30}, {4, 4, 1000, -20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.blocksX << " x " << c.blocksY << " blocks at " << c.x << ", " << c.y);
        fillForces(kUntouched);
        launchRainDrop(dim3(c.blocksX, c.blocksY), dim3(16, 16), c.x, c.y, 1e30f, kStrength, model->fx, model->fy,
                       kGridWidth, kGridHeight);
        ASSERT_EQ(cudaGetLastError(), cudaSuccess);
        const DropFootprint footprint = dropFootprint(c.x, c.y, static_cast<int>(c.blocksX * 16),
                                                      static_cast<int>(c.blocksY * 16), kGridWidth, kGridHeight);
        const auto written = writtenCells(readScalarField(*model, model->fx), readScalarField(*model, model->fy));
        size_t inside = 0;
        for (size_t i : written)
            inside += footprint.contains(static_cast<int>(i % kGridWidth), static_cast<int>(i / kGridWidth)) ? 1 : 0;
        EXPECT_EQ(inside, written.size()) << "written outside the footprint";
        const long long columns = std::max(0, footprint.right - footprint.left + 1);
        const long long rows = std::max(0, footprint.bottom - footprint.top + 1);
        EXPECT_EQ(static_cast<long long>(written.size()), columns * rows) << "footprint cells left unwritten";
    }
    // The square of 48 threads around (0, 0) reaches offsets -24 to 23.
    const DropFootprint corner = dropFootprint(0, 0, 48, 48, kGridWidth, kGridHeight);
    EXPECT_EQ(std::vector<int>({corner.left, corner.top, corner.right, corner.bottom}),
              std::vector<int>({0, 0, 23, 23}));
}

TEST_F(RainDrop, LaterDropOverwritesInsideItsDiscAndNothingElse)
{
    fillForces(0.0f);
    ASSERT_TRUE(model->addRainDrop(1030.0f, 700.0f, kStrength, kRadius));
    const auto aloneX = readScalarField(*model, model->fx);
    const auto aloneY = readScalarField(*model, model->fy);
    fillForces(0.0f);
    ASSERT_TRUE(model->addRainDrop(1000.0f, 700.0f, kStrength, kRadius));
    const auto firstX = readScalarField(*model, model->fx);
    ASSERT_TRUE(model->addRainDrop(1030.0f, 700.0f, kStrength, kRadius));
    const auto bothX = readScalarField(*model, model->fx);
    const auto bothY = readScalarField(*model, model->fy);

    for (int y = 700 - 100; y <= 700 + 100; ++y)
        for (int x = 1000 - 100; x <= 1030 + 100; ++x) {
            const int dx = x - 1030;
            const int dy = y - 700;
            const bool inSecond = std::sqrt(static_cast<float>(dx * dx + dy * dy)) <= kRadius;
            if (inSecond) {
                ASSERT_EQ(bitsOf(bothX[at(x, y)]), bitsOf(aloneX[at(x, y)])) << x << ", " << y;
                ASSERT_EQ(bitsOf(bothY[at(x, y)]), bitsOf(aloneY[at(x, y)])) << x << ", " << y;
            } else {
                ASSERT_EQ(bitsOf(bothX[at(x, y)]), bitsOf(firstX[at(x, y)])) << x << ", " << y;
            }
        }
}

TEST_F(RainDrop, MatchesTheReferenceBitForBit)
{
    reference::Model expected(kGridWidth, kGridHeight);
    std::fill(expected.fx.begin(), expected.fx.end(), kUntouched);
    std::fill(expected.fy.begin(), expected.fy.end(), kUntouched);
    // Overlapping drops, one on the border, one with a smaller radius and
    // negative strength, and centres that need rounding.
    const float drops[][4] = {{1445, 708, kStrength, kRadius},  {1500, 760, kStrength, kRadius},
                              {3, 1530, kStrength, kRadius},     {2000.4f, 300.5f, -kStrength, 30.0f},
                              {2687, 0, 0.001f, 7.9f}};
    for (const auto& d : drops) {
        ASSERT_TRUE(model->addRainDrop(d[0], d[1], d[2], d[3]));
        expected.addRainDrop(d[0], d[1], d[2], d[3]);
    }
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fx), expected.fx, kGridWidth));
    EXPECT_TRUE(sameBits(readScalarField(*model, model->fy), expected.fy, kGridWidth));
}

TEST(ForceDecay, MovesEachComponentTowardZeroByAFixedStep)
{
    ModelPtr model = makeModel(144, 16);
    ASSERT_NE(model, nullptr);
    const float epsilon = floatFromBits(0x3727C5ACu);
    const float nan = std::nanf("");
    // Columns: 3e-5, exactly epsilon, exactly -epsilon, -2.5e-5, NaN, just
    // above epsilon (which keeps the tiny rest for one step), a vector
    // (3e-5, 1e-5) split over fx and fy.
    std::vector<float> fx(cellsOf(*model), 0.0f);
    std::vector<float> fy(cellsOf(*model), 0.0f);
    const float starts[] = {3e-5f, epsilon, -epsilon, -2.5e-5f, nan, std::nextafter(epsilon, 1.0f)};
    for (size_t i = 0; i < std::size(starts); ++i) fx[i] = starts[i];
    fx[10] = 3e-5f;
    fy[10] = 1e-5f;
    writeDevice(model->fx, fx);
    writeDevice(model->fy, fy);

    const float expected[3][std::size(starts)] = {
        {2e-5f, 0.0f, 0.0f, -1.5e-5f, 0.0f, floatFromBits(0x2B800000u) /* 2^-40, epsilon's last place */},
        {1e-5f, 0.0f, 0.0f, -5e-6f, 0.0f, 0.0f},
        {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
    };
    for (int step = 0; step < 3; ++step) {
        ASSERT_TRUE(model->decayForces());
        const auto decayed = readScalarField(*model, model->fx);
        for (size_t i = 0; i < std::size(starts); ++i) {
            if (expected[step][i] == 0.0f) {
                EXPECT_EQ(bitsOf(decayed[i]), 0u) << "start " << starts[i] << ", step " << step + 1;
            } else {
                EXPECT_NEAR(decayed[i], expected[step][i], std::fabs(expected[step][i]) * 1e-6f)
                    << "start " << starts[i] << ", step " << step + 1;
            }
        }
        if (step == 0) {
            EXPECT_NEAR(decayed[10], 2e-5f, 1e-11f);
            EXPECT_EQ(bitsOf(readScalarField(*model, model->fy)[10]), 0u) << "the vector turns onto the axis";
        }
    }
}

}  // namespace
