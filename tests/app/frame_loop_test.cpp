// The program started in-process on the test's private display, its frame loop driven pass by
// pass with events pushed into SDL's queue.
#include "app/app.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "dots/dot.h"
#include "support/sdl_events.h"
#include "support/start_window.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>

namespace {

// How many dots lie within 60 pixels of the point.
int dotsNear(float x, float y) {
    int count = 0;
    for (int32_t i = 0; i < scene.dotCount; ++i)
        if (std::hypot(scene.dots[i].pos.x - x, scene.dots[i].pos.y - y) < 60)
            ++count;
    return count;
}

bool everyDotHome() {
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        const Dot& dot = scene.dots[i];
        if (dot.pos.x != dot.home.x || dot.pos.y != dot.home.y)
            return false;
    }
    return true;
}

class FrameLoop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { startInWindow(); }
};

TEST_F(FrameLoop, StartUpDerivesTheSizesAndPutsEveryDotAtHome) {
    EXPECT_EQ(scene.cols, 40);
    EXPECT_EQ(scene.rows, 30);
    EXPECT_EQ(scene.screenWidth, 800.0f);
    EXPECT_EQ(scene.screenHeight, 600.0f);
    EXPECT_FALSE(scene.fullscreen);
    EXPECT_EQ(scene.dotCount, 1620);
    EXPECT_TRUE(everyDotHome());
    EXPECT_NE(scene.camera, nullptr);
    EXPECT_EQ(scene.cellColors, scene.camera->cellColors());
    EXPECT_EQ(scene.cellLuminance, scene.camera->cellLuminance());
    EXPECT_EQ(scene.ringRadius, 5.0f);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE) << "the ring replaces the pointer";
    char* title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title, "Velmora");
}

TEST_F(FrameLoop, PassWithAMouseEventDrawsWithIdleCountOne) {
    pushMotion(400, 300);
    runFramePass();
    EXPECT_EQ(scene.idleFrames, 1);
    runFramePass();
    EXPECT_EQ(scene.idleFrames, 2);
}

TEST_F(FrameLoop, LeftDragGathersTheDotsAndEnterGlidesThemHome) {
    pushMotion(400, 300);
    pushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    const int before = dotsNear(400, 300);
    for (int pass = 0; pass < 30; ++pass)
        runFramePass();
    EXPECT_GT(dotsNear(400, 300), before + 5) << "the pull gathers the dots";

    // During the glide the held button moves nothing: exactly one motion branch per pass.
    pushKey(SDL_KEYDOWN, SDLK_RETURN);
    runFramePass();
    EXPECT_TRUE(scene.homing);
    EXPECT_TRUE(scene.leftDown);
    const Dot& dot = scene.dots[0];
    EXPECT_EQ(dot.force.x, 0.0f) << "no mouse force while gliding";
    EXPECT_EQ(dot.force.y, 0.0f);
    for (int pass = 1; pass < 20; ++pass)
        runFramePass();
    EXPECT_FALSE(scene.homing);
    EXPECT_TRUE(everyDotHome());

    // The still-held button acts again in the next pass.
    runFramePass();
    EXPECT_NE(scene.dots[0].force.x, 0.0f);
    pushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    pushKey(SDL_KEYDOWN, SDLK_RETURN);
    for (int pass = 0; pass < 20; ++pass)
        runFramePass();
    EXPECT_TRUE(everyDotHome());
}

TEST_F(FrameLoop, RightDragScattersTheDots) {
    pushMotion(400, 300);
    pushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    const int before = dotsNear(400, 300);
    for (int pass = 0; pass < 30; ++pass)
        runFramePass();
    pushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
    runFramePass();
    EXPECT_LT(dotsNear(400, 300), before - 10) << "the push scatters the dots";
    EXPECT_EQ(scene.dots[0].force.x, 0.0f) << "released: the dots coast";
    pushKey(SDL_KEYDOWN, SDLK_RETURN);
    for (int pass = 0; pass < 20; ++pass)
        runFramePass();
    EXPECT_TRUE(everyDotHome());
}

} // namespace
