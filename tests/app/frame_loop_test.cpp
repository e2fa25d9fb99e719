// The program started in-process on the test's private display, its frame loop driven pass by
// pass with events pushed into SDL's queue; and the loop's pacing on a clock of the test's own.
#include "app/app.h"
#include "app/clip.h"
#include "app/frame_pacing.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "dots/dot.h"
#include "support/sdl_events.h"
#include "support/start_window.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdint>

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
    static void SetUpTestSuite() {
        // A still picture: in the hands-free mode only the mouse moves the dots.
        setenv("VELMORA_VIDEO_SOURCE", "videotestsrc pattern=black", 1);
        startInWindow();
    }
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
    const SDL_Cursor* pointer = SDL_GetCursor();
    ASSERT_NE(pointer, nullptr);
    const int pointerBytes = pointer->area.w / 8 * pointer->area.h;
    EXPECT_GT(pointerBytes, 0);
    for (int i = 0; i < pointerBytes; ++i)
        EXPECT_EQ(pointer->data[i] | pointer->mask[i], 0) << "the ring replaces the pointer";
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

// Hands-free, the dots pushed away with the mouse and then left alone glide home by themselves
// after the still passes (the picture, black, never moves); out of the mode they stay.
TEST_F(FrameLoop, HandsFreeStillDotsGoHomeByThemselves) {
    scene.homeAfterPasses = 40;
    for (const bool handsFree : {true, false}) {
        if (scene.handsFree != handsFree)
            pushKey(SDL_KEYDOWN, SDLK_m);
        pushMotion(400, 300);
        pushButton(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
        for (int pass = 0; pass < 10; ++pass)
            runFramePass();
        EXPECT_EQ(scene.handsFree, handsFree) << "M turns the mode on and off";
        pushButton(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
        runFramePass(); // the last mouse event: the still passes start after it
        for (int pass = 1; pass < 40; ++pass)
            runFramePass();
        EXPECT_FALSE(scene.homing) << "still for one pass too few";
        EXPECT_FALSE(everyDotHome());
        runFramePass();
        EXPECT_EQ(scene.homing, handsFree) << "the glide starts at the 40th still pass";
        for (int pass = 1; pass < 20; ++pass)
            runFramePass();
        EXPECT_EQ(everyDotHome(), handsFree) << (handsFree ? "home by themselves" : "left alone");
    }
    pushKey(SDL_KEYDOWN, SDLK_RETURN);
    for (int pass = 0; pass < 20; ++pass)
        runFramePass();
}

const int64_t kMs = 1000000; // nanoseconds

TEST(FramePacing, TheRateComesFromTheSettingOrTheDisplay) {
    struct Case {
        const char* setting;
        double displayHz;
        double rate;
        bool rejected;
    };
    const Case cases[] = {
        {nullptr, 0, 60, false},  {nullptr, 75, 75, false},   {nullptr, 59.94, 59.94, false},
        {nullptr, 20, 30, false}, {nullptr, 500, 240, false}, {"", 144, 144, false},
        {"0", 144, 0, false},     {"30.5", 144, 30.5, false}, {"1000", 0, 1000, false},
        {"1", 0, 1, false},       {"1001", 75, 75, true},     {"0.5", 75, 75, true},
        {"-60", 0, 60, true},     {"60fps", 75, 75, true},    {"fast", 75, 75, true},
        {"nan", 75, 75, true},    {"inf", 75, 75, true},      {" ", 75, 75, true},
    };
    for (const Case& c : cases) {
        bool rejected = false;
        const char* shown = c.setting ? c.setting : "(unset)";
        EXPECT_EQ(chooseFrameRate(c.setting, c.displayHz, rejected), c.rate)
            << "setting " << shown << ", display " << c.displayHz << " Hz";
        EXPECT_EQ(rejected, c.rejected) << "setting " << shown;
    }
    // Seconds in passes, for the hands-free mode's wait before the dots go home.
    EXPECT_EQ(passesIn(3, makeFramePacing(60, 0)), 180);
    EXPECT_EQ(passesIn(3, makeFramePacing(144, 0)), 432);
    EXPECT_EQ(passesIn(3, makeFramePacing(0, 0)), 180) << "not paced: as at 60 a second";
}

TEST(FramePacing, ShortPassesWaitForTheRestOfTheIntervalLongOnesDoNot) {
    // At 50 a second the interval is 20 ms; each row is one pass ending at the given time.
    FramePacing pacing = makeFramePacing(50, 0);
    struct Step {
        int64_t endsAt;    // ms
        int64_t nextStart; // ms
    };
    const Step steps[] = {
        {5, 20},    // a short pass sleeps the rest of its interval
        {25, 40},   // counted from when it was due, not from when the sleep ended
        {70, 70},   // 10 ms late: the next pass begins at once...
        {75, 80},   // ...and the one after it makes the 10 ms up
        {130, 130}, // more than an interval late: begins at once and counts afresh from there
        {135, 150},
    };
    for (const Step& step : steps)
        EXPECT_EQ(nextPassStart(pacing, step.endsAt * kMs), step.nextStart * kMs)
            << "pass ending at " << step.endsAt << " ms";

    FramePacing off = makeFramePacing(0, 0);
    EXPECT_EQ(off.intervalNs, 0);
    EXPECT_EQ(nextPassStart(off, 3 * kMs), 3 * kMs) << "0: not paced";
}

TEST(FramePacing, ASwapThatWaitsForTheDisplayIsNeverHeldPastItsRefresh) {
    // The swap waits for the display, whose refresh differs a little from the rate read: the
    // pacing must never add a wait, however long it runs.
    const double cases[][2] = {{59.94, 60}, {60, 59.94}}; // rate read, real refresh (Hz)
    for (const auto& c : cases) {
        FramePacing pacing = makeFramePacing(c[0], 0);
        const double refreshNs = 1e9 / c[1];
        for (int pass = 1; pass <= 6000; ++pass) {
            const int64_t swapped = static_cast<int64_t>(pass * refreshNs);
            ASSERT_EQ(nextPassStart(pacing, swapped), swapped)
                << "read " << c[0] << " Hz, refresh " << c[1] << " Hz: pass " << pass << " waited";
        }
    }
}

// Ten seconds of passes at each rate, each pass up to jitterMs early or late in turn: the clip's
// frames a second, and at 60 a second a frame every second pass.
TEST(ClipPace, AtMostThirtyFramesASecondAtTheDisplaysPace) {
    const double cases[][3] = {
        // passes a second, jitter ms, frames a second
        {60, 0, 30}, {60, 3, 30}, {59.94, 1, 29.97}, {30, 2, 30},
        {50, 0, 30}, {75, 1, 30}, {144, 1, 30},      {20, 2, 20},
    };
    for (const auto& c : cases) {
        const double intervalNs = 1e9 / c[0];
        ClipPace pace{0, -static_cast<int64_t>(intervalNs)};
        int frames = 0;
        for (int pass = 0; pass < 10 * c[0]; ++pass) {
            const double jitter = (pass % 2 ? c[1] : -c[1]) * kMs;
            const bool due = clipFrameDue(pace, static_cast<int64_t>(pass * intervalNs + jitter));
            frames += due;
            if (c[0] == 60) {
                ASSERT_EQ(due, pass % 2 == 0) << "at 60, jitter " << c[1] << ": pass " << pass;
            }
        }
        EXPECT_NEAR(frames / 10.0, c[2], 0.15) << c[0] << " passes a second, jitter " << c[1];
    }
}

} // namespace
