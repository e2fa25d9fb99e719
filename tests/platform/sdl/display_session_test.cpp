// The choices made from what the desktop session tells: which SDL video driver, and how full
// screen is made. The program tests on a compositor of their own see them made for real.
#include "platform/display_session.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplaySession, TheVideoDriverFollowsTheSession) {
    struct Case {
        const char* session;
        SessionSigns signs;
        VideoDriver driver;
    };
    const Case cases[] = {
        {"the user's own driver wins", {"wayland", true, false, false}, VideoDriver::user},
        {"the user's own driver wins over a Wayland session",
         {"x11", false, true, true},
         VideoDriver::user},
        {"an empty setting is no setting", {"", true, false, false}, VideoDriver::x11},
        {"an X11 session", {nullptr, true, false, false}, VideoDriver::x11},
        {"a Wayland session with XWayland", {nullptr, true, true, true}, VideoDriver::x11},
        {"a Wayland session without XWayland, sdl12-compat",
         {nullptr, false, true, true},
         VideoDriver::wayland},
        {"a Wayland session without XWayland, SDL 1.2 itself",
         {nullptr, false, true, false},
         VideoDriver::none},
        {"no display at all: SDL says so", {nullptr, false, false, true}, VideoDriver::x11},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseVideoDriver(c.signs), c.driver) << c.session;
}

TEST(DisplaySession, FullScreenSwitchesModesOnlyWhereTheSwitchIsReal) {
    struct Case {
        const char* display;
        DisplayFacts facts;
        FullScreen way;
    };
    const Case cases[] = {
        {"X server with 800 x 600, SDL 1.2", {"x11", false, false, true}, FullScreen::switchMode},
        {"X server with 800 x 600, sdl12-compat",
         {"x11", false, true, true},
         FullScreen::switchMode},
        {"X server without 800 x 600 (Xvfb)",
         {"x11", false, true, false},
         FullScreen::scaleOnScreen},
        {"XWayland, SDL 1.2", {"x11", true, false, true}, FullScreen::byWindowManager},
        {"XWayland, SDL 1.2, no 800 x 600",
         {"x11", true, false, false},
         FullScreen::byWindowManager},
        {"XWayland, sdl12-compat", {"x11", true, true, true}, FullScreen::scaleOnScreen},
        {"SDL's Wayland driver", {"wayland", false, true, true}, FullScreen::scaleOnScreen},
        {"another driver, which switches", {"kmsdrm", false, true, true}, FullScreen::switchMode},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseFullScreen(c.facts), c.way) << c.display;
}

} // namespace
