// The real program under a minute of random input from outside, and started and quit over and
// over: it keeps running through all of it and always ends with status 0 at once.
#include "program_harness.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <random>

using namespace harness;

namespace {

const char kMovingSource[] = "VELMORA_VIDEO_SOURCE=videotestsrc pattern=ball is-live=true";

TEST(Soak, MinuteOfRandomInputThenEscapeEndsAtOnce) {
    Program program({"window"}, {kMovingSource});
    const Window window = findTitled("Velmora", 15);
    ASSERT_NE(window, 0u);
    const unsigned long keys[] = {XK_Shift_L, XK_Shift_R, XK_space, XK_Return,    XK_a,
                                  XK_Up,      XK_F1,      XK_Tab,   XK_Control_L, XK_KP_Enter};
    std::mt19937 random(60);
    bool held[6] = {};
    bool shiftHeld = false;
    int events = 0;
    for (int step = 0; step < 6000; ++step) { // 6000 steps of 10 ms
        switch (random() % 6) {
        case 0:
        case 1:
            // Mostly inside the window, now and then beyond its edges.
            movePointer(window, static_cast<int>(random() % 1000) - 100,
                        static_cast<int>(random() % 800) - 100);
            break;
        case 2: {
            const unsigned button = 1 + random() % 5;
            held[button] = !held[button];
            pressButton(window, button, held[button]);
            break;
        }
        case 3:
            shiftHeld = !shiftHeld;
            holdKey(window, XK_Shift_L, shiftHeld);
            break;
        default:
            pressKey(window, keys[random() % std::size(keys)]);
            break;
        }
        ++events;
        pause(0.01);
    }
    for (unsigned button = 1; button <= 5; ++button)
        if (held[button])
            pressButton(window, button, false);
    holdKey(window, XK_Shift_L, false);
    EXPECT_EQ(countTitled("Velmora"), 1) << "still running after " << events << " inputs";
    pressKey(window, XK_Escape);
    const Outcome outcome = program.wait(5);
    EXPECT_TRUE(outcome.exited) << "Escape ends the program within 5 s; it " << outcome.ended;
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.stderrText, "") << "nothing printed while running";
}

TEST(Soak, FiftyStartsAndQuitsEachEndWithinFiveSeconds) {
    for (int run = 0; run < 50; ++run) {
        Program program({"window"}, {kMovingSource});
        const Window window = findTitled("Velmora", 15);
        ASSERT_NE(window, 0u) << "run " << run;
        if (run % 2 == 0)
            pressKey(window, XK_Escape);
        else
            closeWindow(window);
        const Outcome outcome = program.wait(5);
        ASSERT_TRUE(outcome.exited) << "run " << run << " ends within 5 s";
        ASSERT_EQ(outcome.status, 0) << "run " << run;
    }
}

} // namespace
