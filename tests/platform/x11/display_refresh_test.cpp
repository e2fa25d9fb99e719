// The display's refresh rate read through RandR on a real (Xvfb) display: unknown for Xvfb's own
// mode, which has no timings, then the rate of a mode with timings the test puts on the screen.
// Xvfb is no XWayland; the program tests on a compositor of their own see XWayland told apart.
#include "platform/x11/display_x11.h"

// GoogleTest before Xlib, whose macros (None, Bool) would clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstring>

namespace {

// Makes a mode of the screen's size with the given timings and shows it on the first monitor.
bool showMode(Display* display, unsigned long dotClock, unsigned hTotal, unsigned vTotal,
              unsigned long flags) {
    const Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (!resources || resources->ncrtc < 1 || resources->noutput < 1)
        return false;
    static int made = 0;
    char name[32];
    std::snprintf(name, sizeof name, "velmora-test-%d", made++);
    XRRModeInfo info{};
    info.name = name;
    info.nameLength = static_cast<unsigned>(std::strlen(name));
    info.width = DisplayWidth(display, DefaultScreen(display));
    info.height = DisplayHeight(display, DefaultScreen(display));
    info.dotClock = dotClock;
    info.hSyncStart = info.width + 16;
    info.hSyncEnd = info.width + 112;
    info.hTotal = hTotal;
    info.vSyncStart = info.height + 1;
    info.vSyncEnd = info.height + 4;
    info.vTotal = vTotal;
    info.modeFlags = flags;
    const RRMode mode = XRRCreateMode(display, root, &info);
    XRRAddOutputMode(display, resources->outputs[0], mode);
    const Status status = XRRSetCrtcConfig(display, resources, resources->crtcs[0], CurrentTime, 0,
                                           0, mode, RR_Rotate_0, resources->outputs, 1);
    XRRFreeScreenResources(resources);
    XSync(display, False);
    return status == RRSetConfigSuccess;
}

TEST(DisplayRefresh, ReadsTheRateOfTheModeThatShowsTheWindow) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "the test's Xvfb";
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, 200, 150, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    EXPECT_EQ(displayRefreshHz(display, window), 0) << "Xvfb's own mode has no timings";
    EXPECT_EQ(displayRefreshHz(nullptr, window), 0) << "no display";
    EXPECT_FALSE(isXWayland(display)) << "Xvfb switches its modes for real";

    struct Case {
        unsigned long dotClock; // Hz
        unsigned hTotal, vTotal;
        unsigned long flags;
        double hz;
    };
    const Case cases[] = {
        {78720000, 1312, 800, 0, 75},                 // 1024 x 768 at 75 Hz
        {65000000, 1344, 806, 0, 60.004},             // 1024 x 768 at 60 Hz
        {65000000, 1344, 806, RR_DoubleScan, 30.002}, // each line shown twice
        {65000000, 1344, 806, RR_Interlace, 120.008}, // half the lines a field
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(showMode(display, c.dotClock, c.hTotal, c.vTotal, c.flags));
        EXPECT_NEAR(displayRefreshHz(display, window), c.hz, 0.001)
            << c.dotClock << " Hz over " << c.hTotal << " x " << c.vTotal << ", flags " << c.flags;
    }
    XCloseDisplay(display);
}

} // namespace
