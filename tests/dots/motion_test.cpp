#include "app/app.h"
#include "app/scene_state.h"
#include "dots/dot.h"
#include "dots/homing.h"
#include "dots/lattice.h"
#include "dots/motion.h"
#include "support/lattice_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace {

// A scene of the program's display size holding the given dots, each at home where it stands.
class DotField : public ::testing::Test {
  protected:
    std::vector<Dot> dots;

    void useDots(std::initializer_list<Vec3> places) {
        dots.clear();
        for (const Vec3& place : places)
            dots.emplace_back(place.x, place.y, 10.0f, 0.95f);
        scene = SceneState{};
        scene.screenWidth = 800;
        scene.screenHeight = 600;
        scene.dotRadius = 10;
        scene.dots = dots.data();
        scene.dotCount = static_cast<int32_t>(dots.size());
    }

    void pointAt(int32_t x, int32_t y) {
        scene.mouseX = x;
        scene.mouseY = y;
    }
};

struct ForceCase {
    bool left, right, shift;
    float fx;
};

TEST_F(DotField, PointerForcesFollowButtonsAndShift) {
    const ForceCase cases[] = {
        {true, false, false, 0.025f}, {true, false, true, 12.5f},   {false, true, false, -0.025f},
        {false, true, true, -12.5f},  {true, true, false, -0.025f}, // push wins
        {true, true, true, -12.5f},
    };
    for (const ForceCase& c : cases) {
        useDots({{300, 200, 0}});
        pointAt(400, 200);
        scene.leftDown = c.left;
        scene.rightDown = c.right;
        scene.shiftDown = c.shift;
        applyMouseForces();
        EXPECT_FLOAT_EQ(dots[0].force.x, c.fx)
            << "left " << c.left << " right " << c.right << " shift " << c.shift;
        EXPECT_EQ(dots[0].force.y, 0.0f);
    }
}

TEST_F(DotField, ForcePointsAlongTheLineWithMagnitudeOverDistance) {
    useDots({{100, 100, 0}});
    pointAt(103, 104);
    scene.leftDown = true;
    applyMouseForces();
    EXPECT_FLOAT_EQ(dots[0].force.x, 3 * 2.5f / 25);
    EXPECT_FLOAT_EQ(dots[0].force.y, 4 * 2.5f / 25);
}

TEST_F(DotField, NoButtonLeavesForcesAsTheyAre) {
    useDots({{0, 0, 0}});
    dots[0].setForce(3, 4);
    pointAt(50, 50);
    applyMouseForces();
    EXPECT_EQ(dots[0].force.x, 3.0f);
    EXPECT_EQ(dots[0].force.y, 4.0f);
}

TEST_F(DotField, DotUnderThePointerGetsNoForce) {
    useDots({{200, 100, 0}, {1e-30f, 0, 0}});
    pointAt(200, 100);
    dots[0].setForce(5, 5);
    scene.leftDown = true;
    scene.shiftDown = true;
    applyMouseForces();
    EXPECT_EQ(dots[0].force.x, 0.0f);
    EXPECT_EQ(dots[0].force.y, 0.0f);
    pointAt(0, 0);
    applyMouseForces();
    EXPECT_EQ(dots[1].force.x, 0.0f) << "a vanishing distance would overflow the force";
}

TEST_F(DotField, ShiftChangesTheForceFromTheNextFrame) {
    useDots({{300, 200, 0}});
    pointAt(400, 200);
    scene.leftDown = true;
    applyMouseForces();
    EXPECT_FLOAT_EQ(dots[0].force.x, 0.025f);
    scene.shiftDown = true;
    applyMouseForces();
    EXPECT_FLOAT_EQ(dots[0].force.x, 12.5f);
}

struct WrapCase {
    float from, to;
};

TEST_F(DotField, DotsWrapAroundBothAxesOnStrictLimits) {
    const WrapCase horizontal[] = {
        {-20.5f, 819.5f}, {820.5f, -19.5f}, {-20, -20}, {820, 820}, {2500, 1660}};
    for (const WrapCase& c : horizontal) {
        useDots({{c.from, 100, 0}});
        moveDots();
        EXPECT_EQ(dots[0].pos.x, c.to) << "from x " << c.from;
        EXPECT_EQ(dots[0].pos.y, 100.0f);
    }
    const WrapCase vertical[] = {{-20.5f, 619.5f}, {620.5f, -19.5f}, {-20, -20}, {620, 620}};
    for (const WrapCase& c : vertical) {
        useDots({{100, c.from, 0}});
        moveDots();
        EXPECT_EQ(dots[0].pos.y, c.to) << "from y " << c.from;
    }
}

TEST_F(DotField, WrapKeepsTheVelocityAndCoastingGoesOn) {
    useDots({{815, 300, 0}});
    dots[0].vel.x = 10;
    moveDots();
    EXPECT_FLOAT_EQ(dots[0].pos.x, 815 + 9.5f - 840);
    EXPECT_FLOAT_EQ(dots[0].vel.x, 9.5f);
}

TEST_F(DotField, GlideEasesEveryDotHomeInTwentyFrames) {
    useDots({{400, 300, 0}, {250, 80, 0}});
    dots[0].pos.x = 300; // 100 pixels left of home
    scene.homing = false;
    startHoming();
    const std::map<int, float> eased = {{1, 0.0061558f}, {2, 0.0244717f},  {5, 0.1464466f},
                                        {10, 0.5f},      {15, 0.8535534f}, {19, 0.9938442f},
                                        {20, 1.0f}};
    for (int frame = 1; frame <= 20; ++frame) {
        ASSERT_TRUE(scene.homing) << "the glide runs for 20 frames";
        stepHoming();
        EXPECT_EQ(scene.homingFrame, frame);
        const auto t = eased.find(frame);
        if (t != eased.end()) {
            EXPECT_NEAR(dots[0].pos.x, 300 + 100 * t->second, 1e-4) << "frame " << frame;
        }
        EXPECT_EQ(dots[1].pos.x, 250.0f) << "a dot at home stays there";
        EXPECT_EQ(dots[1].pos.y, 80.0f);
    }
    EXPECT_FALSE(scene.homing);
    EXPECT_EQ(dots[0].pos.x, 400.0f);
}

TEST_F(DotField, GlideStopsTheDotsAndRestartsFromWhereTheyStand) {
    useDots({{400, 300, 0}});
    dots[0].pos = {0, 0, 0};
    dots[0].vel = {5, 5, 0};
    dots[0].setForce(1, 1);
    startHoming();
    EXPECT_EQ(dots[0].vel.x, 0.0f);
    EXPECT_EQ(dots[0].force.x, 0.0f);
    for (int frame = 0; frame < 10; ++frame)
        stepHoming();
    const Vec3 midway = dots[0].pos;
    startHoming();
    EXPECT_EQ(scene.homingFrame, 0);
    EXPECT_EQ(dots[0].start.x, midway.x);
    for (int frame = 0; frame < 19; ++frame)
        stepHoming();
    EXPECT_TRUE(scene.homing) << "a restarted glide lasts 20 frames again";
    stepHoming();
    EXPECT_FALSE(scene.homing);
    EXPECT_EQ(dots[0].pos.x, 400.0f);
    EXPECT_EQ(dots[0].pos.y, 300.0f);
}

TEST_F(DotField, OffScreenDotTravelsStraightHomeWithoutWrapping) {
    useDots({{400, 300, 0}});
    dots[0].pos = {-500, 1000, 0};
    startHoming();
    for (int frame = 0; frame < 20; ++frame) {
        stepHoming();
        // On the line from (-500, 1000) to (400, 300): 7 x + 9 y = 5500.
        EXPECT_NEAR(7 * dots[0].pos.x + 9 * dots[0].pos.y, 5500, 0.01) << "frame " << frame;
    }
    EXPECT_EQ(dots[0].pos.x, 400.0f);
}

// Thousands of frames of random pointer, buttons and Shift, then Enter and 20 frames: every dot
// must have stayed finite and end exactly at home, at rest.
TEST(DotFieldProperty, RandomPlayThenEnterBringsEveryDotHome) {
    static ColorTriple* colors[1200];
    static int32_t luminances[1200];
    scene = SceneState{};
    sizeScene();
    buildHomeLattice(colors, luminances);

    std::mt19937 random(20261207);
    for (int frame = 0; frame < 5000; ++frame) {
        if (random() % 4 == 0) {
            // Exactly on a dot's integer home now and then, anywhere otherwise.
            const Dot& target = scene.dots[random() % scene.dotCount];
            scene.mouseX = random() % 2 ? static_cast<int32_t>(target.home.x) : random() % 65536;
            scene.mouseY = random() % 2 ? static_cast<int32_t>(target.home.y) : random() % 65536;
        }
        scene.leftDown = random() % 3 != 0;
        scene.rightDown = random() % 5 == 0;
        scene.shiftDown = random() % 2 == 0;
        applyMouseForces();
        moveDots();
        for (int32_t i = 0; i < scene.dotCount; ++i) {
            const Dot& dot = scene.dots[i];
            ASSERT_TRUE(std::isfinite(dot.pos.x) && std::isfinite(dot.pos.y) &&
                        std::isfinite(dot.vel.x) && std::isfinite(dot.vel.y))
                << "dot " << i << " at frame " << frame;
        }
    }
    startHoming();
    for (int frame = 0; frame < 20; ++frame)
        stepHoming();
    EXPECT_FALSE(scene.homing);
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        const Dot& dot = scene.dots[i];
        EXPECT_EQ(dot.pos.x, dot.home.x) << "dot " << i;
        EXPECT_EQ(dot.pos.y, dot.home.y) << "dot " << i;
        EXPECT_EQ(dot.vel.x, 0.0f);
        EXPECT_EQ(dot.vel.y, 0.0f);
        EXPECT_EQ(dot.force.x, 0.0f);
        EXPECT_EQ(dot.force.y, 0.0f);
    }
    releaseLattice();
}

} // namespace
