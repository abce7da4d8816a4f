// Creation, initial state and size rules of the water model, and the device
// constants it relies on (its failure paths are tested on the CPU backend,
// whose runtime can be made to fail).
#include "kernels/device_constants.h"
#include "model/water_model.h"
#include "tests/support/device_test_support.h"

namespace {

using WaterModelCreation = DeviceTest;

TEST(DeviceConstants, HaveTheirExactBitPatterns)
{
    EXPECT_EQ(bitsOf(c_gacl), 0x411CF5C3u);
    // The settable ones' initial values (their symbols are the device's).
    EXPECT_EQ(bitsOf(kInitialRelaxationFactor), 0x3F2AAAABu);
    EXPECT_EQ(bitsOf(kInitialBlackDepth), 0x3D4AC083u);
    EXPECT_EQ(bitsOf(kInitialWhiteDepth), 0x3D4ED917u);
    EXPECT_EQ(bitsOf(kInitialDepth), 0x3D4CCCCDu);
    const float ex[9] = {c_ex0, c_ex1, c_ex2, c_ex3, c_ex4, c_ex5, c_ex6, c_ex7, c_ex8};
    const float ey[9] = {c_ey0, c_ey1, c_ey2, c_ey3, c_ey4, c_ey5, c_ey6, c_ey7, c_ey8};
    const uint32_t expectedX[9] = {0, 0x3F800000, 0x3F800000, 0, 0xBF800000, 0xBF800000, 0xBF800000, 0, 0x3F800000};
    const uint32_t expectedY[9] = {0, 0, 0x3F800000, 0x3F800000, 0x3F800000, 0, 0xBF800000, 0xBF800000, 0xBF800000};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(bitsOf(ex[k]), expectedX[k]) << "c_ex" << k;
        EXPECT_EQ(bitsOf(ey[k]), expectedY[k]) << "c_ey" << k;
    }
    // Each moving direction's opposite, ((k + 3) mod 8) + 1, has the negated velocity.
    for (int k = 1; k < 9; ++k) {
        const int opposite = (k + 3) % 8 + 1;
        EXPECT_EQ(ex[opposite], -ex[k]);
        EXPECT_EQ(ey[opposite], -ey[k]);
    }
}

TEST_F(WaterModelCreation, ApplicationGridStartsAsStillWaterWithoutForce)
{
    WaterModel* model = createWaterModel(2688, 1536);
    ASSERT_NE(model, nullptr);

    const size_t cells = 2688u * 1536u;
    const auto h = readDevice(model->h, cells);
    const auto fx = readDevice(model->fx, cells);
    const auto fy = readDevice(model->fy, cells);
    for (size_t i = 0; i < cells; ++i) {
        if (bitsOf(h[i]) != 0x3D4CCCCDu || bitsOf(fx[i]) != 0u || bitsOf(fy[i]) != 0u) {
            FAIL() << "cell " << i << " not in the initial state";
        }
    }
    // The distribution arrays hold 9 floats per cell, up to the last one.
    float last = 0.0f;
    EXPECT_EQ(cudaMemcpy(&last, model->f + cells * 9 - 1, sizeof(float), cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(cudaMemcpy(&last, model->fStream + cells * 9 - 1, sizeof(float), cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(model->pixelBuffer, 0u);
    EXPECT_EQ(model->graphicsResource, nullptr);
    destroyWaterModel(model);
}

TEST_F(WaterModelCreation, SizesTheKernelsCannotCoverAreRefusedSilently)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    // Not multiples of 16; 256 cells not a multiple of 1152; non-positive
    // sizes; more cells than 24-bit indices reach; a product beyond int.
    const int refused[][2] = {{2688, 1544}, {8, 16}, {16, 16}, {2696, 1536}, {0, 1152}, {-16, -1152},
                              {-1152, 16},  {4608, 1824}, {65536, 65536}, {1 << 30, 1 << 30}};
    for (const auto& size : refused) EXPECT_EQ(createWaterModel(size[0], size[1]), nullptr) << size[0] << "x" << size[1];
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(WaterModelCreation, SmallestAndLargestAcceptedShapesStartStill)
{
    WaterModel* model = createWaterModel(144, 16);  // 2304 cells: twice 1152
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(readDevice(model->h, 144u * 16u), std::vector<float>(144u * 16u, kInitialDepth));
    destroyWaterModel(model);
    // Just under the 2^23 cells that 24-bit indices reach (4608 x 1824,
    // just over, is refused above).
    model = createWaterModel(4608, 1808);
    ASSERT_NE(model, nullptr);
    const auto h = readDevice(model->h, 4608u * 1808u);
    EXPECT_EQ(bitsOf(h.back()), 0x3D4CCCCDu);
    destroyWaterModel(model);
}

}  // namespace
