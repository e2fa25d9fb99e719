#include "app/scene_state.h"
#include "dots/dot.h"
#include "dots/lattice.h"
#include "support/lattice_support.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

ColorTriple* noColors[1];
int32_t noLuminance[1];

// A scene with the program's sizes except for the grid, then the lattice built on it.
void buildOn(int32_t cols, int32_t rows) {
    scene = SceneState{};
    scene.cols = cols;
    scene.rows = rows;
    scene.cellSize = 20.0f;
    scene.dotRadius = 10.0f;
    scene.cellColors = noColors;
    scene.cellLuminance = noLuminance;
    buildLattice();
}

std::vector<int32_t> cellsOf(const Dot& dot) {
    return std::vector<int32_t>(dot.cells, dot.cells + dot.cellCount);
}

struct NamedDot {
    int32_t index;
    float x, y;
    std::vector<int32_t> cells;
};

class ProgramLattice : public ::testing::Test {
  protected:
    void SetUp() override { buildOn(40, 30); }
    void TearDown() override { releaseLattice(); }
};

class SmallLattice : public ::testing::Test {
  protected:
    void TearDown() override { releaseLattice(); }
};

TEST_F(ProgramLattice, HoldsFortyRowsOf1620Dots) {
    ASSERT_EQ(scene.dotCount, 1620);
    std::set<float> rowsSeen;
    for (int32_t i = 0; i < scene.dotCount; ++i)
        rowsSeen.insert(scene.dots[i].pos.y);
    EXPECT_EQ(rowsSeen.size(), 40u);
    EXPECT_EQ(*rowsSeen.begin(), 0.0f) << "the first row lies at the top";
    EXPECT_EQ(*rowsSeen.rbegin(), 585.0f) << "rows are 15 pixels apart";
}

TEST_F(ProgramLattice, PlacesAndBindsTheNamedDots) {
    const NamedDot expected[] = {
        {0, 0, 0, {0}},
        {39, 780, 0, {39}},
        {40, -10, 15, {0, 40}},
        {41, 10, 15, {0, 40, 1, 41}},
        {80, 790, 15, {39, 79}},
        {81, 0, 30, {40}}, // u = 1.5 binds the upper grid row only
        {120, 780, 30, {79}},
        {162, 0, 60, {120}},
        {1579, -10, 585, {1160}}, // the clipped last row binds grid row 29 alone
        {1580, 10, 585, {1160, 1161}},
        {1619, 790, 585, {1199}},
    };
    for (const NamedDot& named : expected) {
        const Dot& dot = scene.dots[named.index];
        EXPECT_EQ(dot.pos.x, named.x) << "dot " << named.index;
        EXPECT_EQ(dot.pos.y, named.y) << "dot " << named.index;
        EXPECT_EQ(cellsOf(dot), named.cells) << "dot " << named.index;
    }
}

TEST_F(ProgramLattice, SplitsBindingsInto802Single77DoubleAnd741Quadruple) {
    int32_t byCount[5] = {};
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        ASSERT_GE(scene.dots[i].cellCount, 1);
        ASSERT_LE(scene.dots[i].cellCount, 4);
        ++byCount[scene.dots[i].cellCount];
    }
    EXPECT_EQ(byCount[1], 802);
    EXPECT_EQ(byCount[2], 77);
    EXPECT_EQ(byCount[3], 0);
    EXPECT_EQ(byCount[4], 741);
}

TEST_F(ProgramLattice, BindsEveryCellAndNothingOutsideTheGrid) {
    std::set<int32_t> bound;
    for (int32_t i = 0; i < scene.dotCount; ++i)
        for (int32_t cell : cellsOf(scene.dots[i]))
            bound.insert(cell);
    EXPECT_EQ(bound.size(), 1200u) << "every one of the 1200 cells is shown by some dot";
    EXPECT_EQ(*bound.begin(), 0);
    EXPECT_EQ(*bound.rbegin(), 1199);
}

TEST_F(ProgramLattice, LeavesEveryDotAtRestWithTheLatticeSettings) {
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        const Dot& dot = scene.dots[i];
        EXPECT_EQ(dot.damping, 0.95f) << "dot " << i;
        EXPECT_EQ(dot.radius, 10.0f) << "dot " << i;
        EXPECT_EQ(dot.pos.z, 0.0f) << "dot " << i;
        for (const Vec3& v : {dot.vel, dot.force, dot.start, dot.home})
            EXPECT_TRUE(v.x == 0 && v.y == 0 && v.z == 0) << "dot " << i;
        EXPECT_EQ(dot.cellColors, noColors) << "dot " << i;
        EXPECT_EQ(dot.cellLuminance, noLuminance) << "dot " << i;
    }
}

TEST_F(ProgramLattice, StartsEachRowWhereTheArrayOrderSays) {
    for (int32_t k = 0; k < 40; ++k) {
        const int32_t first = k % 2 == 0 ? 81 * (k / 2) : 81 * ((k - 1) / 2) + 40;
        EXPECT_EQ(scene.dots[first].pos.y, 15.0f * k) << "row " << k;
        EXPECT_EQ(scene.dots[first].pos.x, k % 2 == 0 ? 0.0f : -10.0f) << "row " << k;
    }
}

TEST_F(SmallLattice, OneGridRowGivesOneEvenRow) {
    buildOn(5, 1);
    ASSERT_EQ(scene.dotCount, 5);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(scene.dots[i].pos.y, 0.0f);
        EXPECT_EQ(cellsOf(scene.dots[i]), std::vector<int32_t>{i});
    }
}

TEST_F(SmallLattice, TwoGridRowsGiveAnUnclippedOddRow) {
    buildOn(3, 2);
    ASSERT_EQ(scene.dotCount, 2 * 3 + 1);
    EXPECT_EQ(cellsOf(scene.dots[3]), (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(cellsOf(scene.dots[4]), (std::vector<int32_t>{0, 3, 1, 4}));
    EXPECT_EQ(cellsOf(scene.dots[6]), (std::vector<int32_t>{2, 5}));
}

TEST_F(SmallLattice, OneGridColumnGivesOddRowsOfTwoDotsOnColumnZero) {
    buildOn(1, 3);
    const Dot& first = scene.dots[1];
    const Dot& second = scene.dots[2];
    EXPECT_EQ(first.pos.x, -10.0f);
    EXPECT_EQ(second.pos.x, 10.0f);
    EXPECT_EQ(cellsOf(first), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(cellsOf(second), (std::vector<int32_t>{0, 1}));
}

} // namespace
