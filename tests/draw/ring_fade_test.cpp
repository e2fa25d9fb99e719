#include "app/app.h"
#include "app/scene_state.h"
#include "draw/render.h"

#include <gtest/gtest.h>

namespace {

// The frame loop counts the pass before drawing, so the first frame sees idleFrames = 1.
float fadeOneFrame() {
    countIdleFrame();
    fadeRing();
    return scene.ringAlpha;
}

TEST(RingFade, FadesInFromStartThenOutWithoutMouseEvents) {
    scene = SceneState{};
    EXPECT_FLOAT_EQ(fadeOneFrame(), 5.0f) << "first frame: 5 % of the way to 100";
    EXPECT_FLOAT_EQ(fadeOneFrame(), 9.7f) << "second frame: 5 % of the way to 99";
    float peak = 0;
    int peakFrame = 0;
    for (int frame = 3; frame < 300; ++frame) {
        const float alpha = fadeOneFrame();
        if (alpha > peak) {
            peak = alpha;
            peakFrame = frame;
        }
        if (frame < 120)
            EXPECT_GT(alpha, 0.0f) << "still visible at frame " << frame;
        else
            EXPECT_EQ(alpha, 0.0f) << "fully faded from frame 120, frame " << frame;
    }
    EXPECT_NEAR(peak * 0.01f, 0.65f, 0.01f) << "peak opacity";
    EXPECT_NEAR(peakFrame, 35, 2) << "peak frame";
}

TEST(RingFade, ConstantMouseActivityTendsToFullOpacity) {
    scene = SceneState{};
    for (int frame = 0; frame < 500; ++frame) {
        scene.idleFrames = 0;
        fadeOneFrame();
    }
    EXPECT_NEAR(scene.ringAlpha, 100.0f, 0.01f);
}

TEST(RingFade, MouseEventRaisesItAgainFromWhereItStands) {
    scene = SceneState{};
    scene.idleFrames = 1000;
    scene.ringAlpha = 0;
    fadeOneFrame();
    EXPECT_EQ(scene.ringAlpha, 0.0f);
    scene.idleFrames = 0;
    EXPECT_FLOAT_EQ(fadeOneFrame(), 5.0f);
}

TEST(RingFade, StaysFadedAtTheLargestIdleCount) {
    scene = SceneState{};
    scene.idleFrames = INT32_MAX;
    fadeRing();
    EXPECT_EQ(scene.ringAlpha, 0.0f);
}

} // namespace
