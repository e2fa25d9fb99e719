#include "dots/dot.h"

#include <gtest/gtest.h>

namespace {

TEST(Dot, DefaultDotSitsAtTheOriginWithItsOwnDamping) {
    const Dot dot;
    EXPECT_EQ(dot.pos.x, 0.0f);
    EXPECT_EQ(dot.radius, 10.0f);
    EXPECT_EQ(dot.damping, 0.959999f);
}

TEST(Dot, FullInitialiserPutsTheDotAtHomeAndAtRest) {
    const Dot dot(12.5f, -3.0f, 7.0f, 0.9f);
    EXPECT_EQ(dot.pos.x, 12.5f);
    EXPECT_EQ(dot.pos.y, -3.0f);
    EXPECT_EQ(dot.home.x, 12.5f);
    EXPECT_EQ(dot.home.y, -3.0f);
    EXPECT_EQ(dot.vel.x, 0.0f);
    EXPECT_EQ(dot.force.x, 0.0f);
    EXPECT_EQ(dot.start.x, 0.0f);
    EXPECT_EQ(dot.radius, 7.0f);
    EXPECT_EQ(dot.damping, 0.9f);
}

TEST(Dot, ConstantForceAccumulatesDampedVelocity) {
    Dot dot(0, 0, 10, 0.95f);
    dot.setForce(1, 0);
    const float steps[] = {1.0f, 1.95f, 2.8525f};
    float travelled = 0;
    for (float step : steps) {
        dot.integrate();
        EXPECT_NEAR(dot.pos.x - travelled, step, 1e-5) << "the force is not cleared after use";
        travelled = dot.pos.x;
    }
    EXPECT_EQ(dot.pos.y, 0.0f);
}

TEST(Dot, ZeroForceLeavesTheDotCoastingAndSlowing) {
    Dot dot(0, 0, 10, 0.95f);
    dot.vel.x = 10;
    for (int frame = 0; frame < 200; ++frame) {
        const float before = dot.vel.x;
        dot.integrate();
        EXPECT_NEAR(dot.vel.x, before * 0.95f, 1e-6);
        EXPECT_GT(dot.vel.x, 0.0f) << "a coasting dot never snaps to rest";
    }
}

TEST(Dot, SetForceLeavesZAlone) {
    Dot dot;
    dot.force.z = 4;
    dot.setForce(1, 2);
    EXPECT_EQ(dot.force.x, 1.0f);
    EXPECT_EQ(dot.force.y, 2.0f);
    EXPECT_EQ(dot.force.z, 4.0f);
}

class DotSampling : public ::testing::Test {
  protected:
    ColorTriple cellA{10, 20, 30};
    ColorTriple cellB{11, 21, 31};
    ColorTriple cellC{255, 0, 7};
    ColorTriple cellD{0, 255, 9};
    ColorTriple* colors[4] = {&cellA, &cellB, &cellC, &cellD};
    int32_t luminances[4] = {100, 101, 250, 3};
    Dot dot;

    void SetUp() override {
        dot.cellColors = colors;
        dot.cellLuminance = luminances;
    }
    void TearDown() override { delete[] dot.cells; }
};

TEST_F(DotSampling, OneCellIsShownExactly) {
    dot.bindCells(2);
    dot.cellCount = 1;
    dot.sampleColor();
    dot.sampleLuminance();
    EXPECT_EQ(dot.color.r, 255);
    EXPECT_EQ(dot.color.g, 0);
    EXPECT_EQ(dot.color.b, 7);
    EXPECT_EQ(dot.luminance, 250);
}

TEST_F(DotSampling, TwoCellsAverageWithTruncation) {
    dot.bindCells(0, 1);
    dot.cellCount = 2;
    dot.sampleColor();
    dot.sampleLuminance();
    EXPECT_EQ(dot.color.r, 10) << "21 / 2 truncates";
    EXPECT_EQ(dot.color.g, 20);
    EXPECT_EQ(dot.color.b, 30);
    EXPECT_EQ(dot.luminance, 100);
}

TEST_F(DotSampling, FourCellsAverageInAnyOrderAndResampleFresh) {
    dot.bindCells(3, 2, 1, 0);
    dot.cellCount = 4;
    dot.sampleColor();
    EXPECT_EQ(dot.color.r, (0 + 255 + 11 + 10) / 4);
    EXPECT_EQ(dot.color.g, (255 + 0 + 21 + 20) / 4);
    EXPECT_EQ(dot.color.b, (9 + 7 + 31 + 30) / 4);
    cellD = ColorTriple{0, 0, 0};
    dot.sampleColor();
    EXPECT_EQ(dot.color.g, (0 + 0 + 21 + 20) / 4) << "sampling starts from zero every time";
    dot.sampleLuminance();
    EXPECT_EQ(dot.luminance, (3 + 250 + 101 + 100) / 4);
}

} // namespace
