// The real program on a Wayland desktop: weston with XWayland and two monitors side by side, shown
// on the test's Xvfb (tests/with-weston.sh). The test looks at the Xvfb's screen, where weston
// shows what a user would see, and moves the pointer and presses keys there; the program's window
// is looked up on XWayland.
#include "program_harness.h"
#include "program_pictures.h"

#include <SDL.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace harness;

namespace {

const int kMonitorWidth = 1280; // each of weston's monitors, side by side from the left
const int kMonitorHeight = 720;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Whether the program's SDL 1.2 is sdl12-compat, which reaches Wayland through SDL 2 or 3.
bool sdlSpeaksWayland() {
    return SDL_Linked_Version()->patch >= 50;
}

// The first monitor's part of the screen, row by row.
std::vector<Rgb> firstMonitor(const std::vector<Rgb>& screen, int screenWidth) {
    std::vector<Rgb> part;
    for (int y = 0; y < kMonitorHeight; ++y)
        for (int x = 0; x < kMonitorWidth; ++x)
            part.push_back(screen[static_cast<size_t>(y) * screenWidth + x]);
    return part;
}

// The largest difference between the region means of the picture on the first monitor, where
// it fills the largest 4:3 area, and those of the window's picture.
int differenceFromWindow(const std::vector<Rgb>& monitor, const std::vector<Rgb>& window) {
    const View view(kMonitorWidth, kMonitorHeight);
    return largestDifference(regionMeans(monitor, kMonitorWidth, view.left, view.top,
                                         view.length(800), view.length(600)),
                             regionMeans(window, 800, 0, 0, 800, 600));
}

// Waits, up to kChangeSeconds, until the first monitor shows the window's picture at rest,
// scaled into its largest 4:3 area; returns the largest difference last seen and leaves the
// monitor's picture then in monitor.
int differenceOnMonitor(const std::vector<Rgb>& window, std::vector<Rgb>& monitor) {
    const int unlike = 256;
    int difference = unlike;
    waitUntil(kChangeSeconds, [&] {
        int width = 0, height = 0;
        windowSize(wholeScreen(), width, height);
        const std::vector<Rgb> screen = settledPicture(wholeScreen(), 2, false);
        monitor = screen.empty() ? screen : firstMonitor(screen, width);
        difference = monitor.empty() ? unlike : differenceFromWindow(monitor, window);
        return difference <= kScaledPictureTolerance;
    });
    return difference;
}

// Whether two colours differ clearly. A still picture shown through weston may differ by a level
// or two from one frame to the next.
bool clearlyDiffer(const Rgb& a, const Rgb& b) {
    const int kLevels = 8;
    return std::abs(a.r - b.r) > kLevels || std::abs(a.g - b.g) > kLevels ||
           std::abs(a.b - b.b) > kLevels;
}

// Whether the pixels near (x, y) that changed clearly on the first monitor since still (the
// ring, as the dots stay where they are) number at least 20 with their centre within 3 pixels of
// (x, y), waiting up to kChangeSeconds; the centre last seen in ringX and ringY. Only pixels
// within 40 of (x, y) count: the ring's fading at start, in the picture's corner, may still show
// in still.
bool changeCentredAt(const std::vector<Rgb>& still, int x, int y, double& ringX, double& ringY) {
    const int kNear = 40;
    return waitUntil(kChangeSeconds, [&] {
        int width = 0, height = 0;
        const std::vector<Rgb> screen = grab(wholeScreen(), width, height);
        const std::vector<Rgb> now = firstMonitor(screen, width);
        const auto changedNear = [&](size_t i) {
            const int px = static_cast<int>(i % kMonitorWidth);
            const int py = static_cast<int>(i / kMonitorWidth);
            return std::abs(px - x) <= kNear && std::abs(py - y) <= kNear && i < still.size() &&
                   clearlyDiffer(now[i], still[i]);
        };
        return centreOfMarks(now.size(), kMonitorWidth, changedNear, ringX, ringY) &&
               std::abs(ringX - x) <= 3 && std::abs(ringY - y) <= 3;
    });
}

class Desktop : public testing::Test {
  protected:
    void SetUp() override {
        xwayland = environment("VELMORA_XWAYLAND_DISPLAY");
        wayland = environment("VELMORA_WAYLAND_DISPLAY");
        if (xwayland.empty() || wayland.empty())
            GTEST_SKIP() << "needs a compositor of its own (tests/with-weston.sh)";
        keys = findTitled("Weston Compositor - screen0", kStartSeconds);
        ASSERT_NE(keys, 0u) << "weston's first monitor on the Xvfb";
        // Weston shows a new full-screen window on the monitor that has the pointer, as a user
        // who starts the program from there would have it.
        movePointer(wholeScreen(), kMonitorWidth / 2, kMonitorHeight / 2);
    }

    // The window's picture of the bars, taken once for the tests that compare with it.
    static const std::vector<Rgb>& reference() {
        static const std::vector<Rgb> picture = windowPictureOfBars();
        return picture;
    }

    std::string xwayland; // XWayland's X display
    std::string wayland;  // weston's Wayland display
    Window keys = 0;      // weston's first monitor on the Xvfb, which takes the keys
};

// Under XWayland the modes the program could switch to are only pretended: the compositor would
// stretch a small picture over the whole monitor. The program fills one monitor instead, with its
// picture scaled into the largest 4:3 area there, and the pointer reaches it.
TEST_F(Desktop, FullScreenUnderXWaylandFillsOneMonitorAndTheRingFollowsThePointer) {
    ASSERT_EQ(reference().size(), 800u * 600) << "the window's picture of the bars, at rest";
    Program program({}, {kBars, "DISPLAY=" + xwayland, "WAYLAND_DISPLAY="});
    // The window manager may take a moment to bring the window to its place.
    WindowPlace place;
    waitUntil(kStartSeconds, [&] {
        place = findProgramWindowOn(xwayland, kStartSeconds);
        return place.found && place.x == 0 && place.y == 0 && place.width == kMonitorWidth;
    });
    ASSERT_TRUE(place.found) << "the program's window on XWayland";
    EXPECT_EQ(place.x, 0);
    EXPECT_EQ(place.y, 0);
    EXPECT_EQ(place.width, kMonitorWidth) << "one monitor wide";
    EXPECT_EQ(place.height, kMonitorHeight) << "one monitor high";
    EXPECT_FALSE(place.pretended) << "no pretended mode";

    std::vector<Rgb> monitor;
    EXPECT_LE(differenceOnMonitor(reference(), monitor), kScaledPictureTolerance)
        << "the window's picture, scaled into the largest 4:3 area of the monitor";
    savePng(wholeScreen(), "desktop-xwayland.png");
    ASSERT_FALSE(monitor.empty()) << "the picture comes to rest";

    const View view(kMonitorWidth, kMonitorHeight);
    // Twice: the first motion only brings the pointer into the program's window.
    movePointer(wholeScreen(), view.x(kPointerX) + 9, view.y(kPointerY));
    pause(0.1);
    movePointer(wholeScreen(), view.x(kPointerX), view.y(kPointerY));
    double ringX = -1, ringY = -1;
    const int cx = view.x(kPointerX), cy = view.y(kPointerY + kFrameShift);
    EXPECT_TRUE(changeCentredAt(monitor, cx, cy, ringX, ringY))
        << "the ring is drawn under the pointer at (" << cx << ", " << cy << "), not at (" << ringX
        << ", " << ringY << ")";

    pressKey(keys, XK_Escape);
    const Outcome outcome = program.wait(kQuitSeconds);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << "Escape ends it with status 0";
    EXPECT_EQ(outcome.stderrText, "");
}

// A Wayland session without XWayland: where SDL speaks Wayland the program draws there, full
// screen with the picture scaled; where it cannot, one line says what it needs.
TEST_F(Desktop, WithoutXWaylandItDrawsOnWaylandOrSaysItNeedsAnXDisplay) {
    if (sdlSpeaksWayland()) {
        ASSERT_EQ(reference().size(), 800u * 600) << "the window's picture of the bars, at rest";
    }
    Program program({}, {kBars, "DISPLAY=", "WAYLAND_DISPLAY=" + wayland});
    if (!sdlSpeaksWayland()) {
        const Outcome outcome = program.wait(kQuitSeconds);
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.stderrText.rfind("velmora: this Wayland session has no X display", 0), 0u)
            << outcome.stderrText;
        EXPECT_TRUE(isOneLine(outcome.stderrText)) << "exactly one line: " << outcome.stderrText;
        return;
    }
    std::vector<Rgb> monitor;
    EXPECT_LE(differenceOnMonitor(reference(), monitor), kScaledPictureTolerance)
        << "the window's picture, scaled into the largest 4:3 area of the monitor";
    savePng(wholeScreen(), "desktop-wayland.png");
    pressKey(keys, XK_Escape);
    const Outcome outcome = program.wait(kQuitSeconds);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << "Escape ends it with status 0";
    EXPECT_EQ(outcome.stderrText.find("velmora"), std::string::npos) << outcome.stderrText;
}

} // namespace
