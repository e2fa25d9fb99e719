// The real program on a known video source: the dots on screen have the colours the source must
// give, and the program ends cleanly while the capture runs.
#include "program_harness.h"
#include "program_pictures.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace harness;

namespace {

// The camera image: red in its top-left quarter, blue elsewhere. Made in an RGB format, so the
// colours reach the dots exactly: a round trip through YUV may round 255 to 254.
const char kQuarterSource[] = "VELMORA_VIDEO_SOURCE=videotestsrc pattern=red ! "
                              "video/x-raw,format=BGRx,width=80,height=60 ! "
                              "videobox right=-80 bottom=-60 fill=blue ! video/x-raw,format=BGRx";

bool same(const Rgb& a, const Rgb& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

std::string text(const Rgb& p) {
    return "(" + std::to_string(p.r) + ", " + std::to_string(p.g) + ", " + std::to_string(p.b) +
           ")";
}

TEST(LiveProgram, DotsShowTheSourceMirrored) {
    Program program({"window"}, {kQuarterSource});
    const Window window = findTitled("Velmora", kStartSeconds);
    ASSERT_NE(window, 0u);
    const Rgb red{255, 0, 0};
    const Rgb blue{0, 0, 255};
    // Disc centres: dot pos + (10, 10), drawn 3 pixels higher. Even lattice rows hold dots at
    // x = 20 * column, lattice row k at y = 15 * k. Mirrored, the red quarter is top right.
    struct Spot {
        const char* what;
        int x, y;
        Rgb colour;
    };
    const Spot spots[] = {
        {"dot 0, top left", 10, 7, blue},
        {"top row, column 19", 390, 7, blue},
        {"top row, column 20", 410, 7, red},
        {"top right", 790, 7, red},
        {"row 18 (cell row 13), right", 790, 277, red},
        {"row 20 (cell row 15), right", 790, 307, blue},
        {"bottom left", 10, 577, blue},
        {"bottom right", 790, 577, blue},
    };
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    // Until the first frames have come through, the dots are black.
    for (int tries = 0; tries < 100; ++tries) {
        pixels = grab(window, width, height);
        if (pixels.size() == 800u * 600 && same(pixels[7 * 800 + 790], red))
            break;
        pause(0.1);
    }
    ASSERT_EQ(pixels.size(), 800u * 600);
    for (const Spot& s : spots)
        EXPECT_TRUE(same(pixels[s.y * 800 + s.x], s.colour))
            << s.what << " at (" << s.x << ", " << s.y << ") is " << text(pixels[s.y * 800 + s.x])
            << ", expected " << text(s.colour);
    pressKey(window, XK_Escape);
    const Outcome outcome = program.wait(5);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << "Escape ends it with status 0";
    EXPECT_EQ(outcome.stderrText, "") << "nothing on standard error";
}

// Twenty runs of each way to end the program while the capture runs, each ending with status 0.
TEST(LiveProgram, EndingWhileCapturingGivesStatusZeroEveryTime) {
    for (const bool byClose : {false, true}) {
        const char* how = byClose ? "the close button" : "Escape";
        for (int run = 0; run < 20; ++run) {
            Program program({"window"}, {"VELMORA_VIDEO_SOURCE=videotestsrc pattern=ball"});
            const Window window = findTitled("Velmora", kStartSeconds);
            ASSERT_NE(window, 0u) << how << ", run " << run;
            pause(0.2 + 0.05 * (run % 5)); // frames are flowing by now
            if (byClose)
                closeWindow(window);
            else
                pressKey(window, XK_Escape);
            const Outcome outcome = program.wait(5);
            ASSERT_TRUE(outcome.exited) << how << ", run " << run << ": ended by itself";
            ASSERT_EQ(outcome.status, 0) << how << ", run " << run;
            ASSERT_EQ(outcome.stderrText, "") << how << ", run " << run;
            // The next run must find no window of this one.
            for (int tries = 0; tries < 50 && countTitled("Velmora") > 0; ++tries)
                pause(0.05);
        }
    }
}

} // namespace

namespace {

// What the program shows, told from three dots: dot 0 at the top left, the top right one and
// the one nearest the centre.
enum class Shown { Nothing, Black, ColourBars, Camera, CyanCamera, GreyCamera };

const char* nameOf(Shown shown) {
    switch (shown) {
    case Shown::Black:
        return "black dots";
    case Shown::ColourBars:
        return "colour bars";
    case Shown::Camera:
        return "a fake camera's disc on white";
    case Shown::CyanCamera:
        return "the dropping-out camera's disc on cyan";
    case Shown::GreyCamera:
        return "the infra-red camera's disc on grey";
    default:
        return "something else";
    }
}

Shown look(const std::vector<Rgb>& pixels) {
    if (pixels.size() != 800u * 600)
        return Shown::Nothing;
    const Rgb& corner = pixels[7 * 800 + 10];
    const Rgb& right = pixels[7 * 800 + 790];
    const Rgb& centre = pixels[307 * 800 + 410];
    auto black = [](const Rgb& p) { return p.r == 0 && p.g == 0 && p.b == 0; };
    auto dark = [](const Rgb& p) { return p.r < 80 && p.g < 80 && p.b < 128; };
    if (black(corner) && black(centre))
        return Shown::Black;
    // Mirrored, the bars' blue right edge is at the left of the screen, their white at the right.
    if (corner.b > 150 && corner.r < 60 && corner.g < 60 && right.r > 150 && right.g > 150 &&
        right.b > 150)
        return Shown::ColourBars;
    if (dark(centre) && corner.g > 200 && corner.b > 200)
        return corner.r > 230 ? Shown::Camera : Shown::CyanCamera;
    auto grey = [](const Rgb& p) {
        return p.r > 120 && p.r < 180 && std::abs(p.g - p.r) < 8 && std::abs(p.b - p.r) < 8;
    };
    if (dark(centre) && grey(corner))
        return Shown::GreyCamera;
    return Shown::Nothing;
}

// Width over height of the dark part of the picture: the fake camera's disc.
double darkShape(const std::vector<Rgb>& pixels) {
    int left = 800, right = -1, top = 600, bottom = -1;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const Rgb& p = pixels[static_cast<size_t>(y * 800 + x)];
            if (p.r < 100 && p.g < 100 && p.b < 100) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    return bottom > top ? static_cast<double>(right - left + 1) / (bottom - top + 1) : 0;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// One picture the program must come to show, after a press of C when asked.
struct Step {
    Step(Shown shown) : shown(shown) {} // NOLINT: a plain picture reads best in the table
    Shown shown;
    bool pressC = false;
};

Step afterC(Shown shown) {
    Step step(shown);
    step.pressC = true;
    return step;
}

// The fake cameras, alone and together, and sources named by hand: what comes on screen, in
// order, with the user's presses of C between, and the one line on standard error for each
// source given up, taken over or chosen.
TEST(LiveProgram, EachCameraIsShownOrGivenUpInTurn) {
    struct Case {
        std::string cameras;
        std::vector<Step> pictures;
        std::vector<std::string> lines; // each a part of one line, in order
        std::string source = "";        // VELMORA_VIDEO_SOURCE
        double staySeconds = 0;         // how long the last picture must then stay
    };
    const std::string busy = "velmora: camera \"Fake Busy Camera\" (/dev/video0) is busy";
    const std::string freed = "velmora: camera \"Fake Freed Camera\" (/dev/video0)";
    const Case cases[] = {
        {"raw", {Shown::Camera}, {}},
        {"mjpeg", {Shown::Camera}, {}},
        {"wide", {Shown::Camera}, {}},
        {"slow", {Shown::Black, Shown::Camera}, {}},
        {"busy", {Shown::ColourBars}, {busy + "; showing colour bars"}},
        {"unopenable",
         {Shown::ColourBars},
         {"velmora: camera \"Fake Unopenable Camera\" (/dev/video0) could not be opened: "}},
        {"eos",
         {Shown::ColourBars},
         {"velmora: camera \"Fake Eos Camera\" (/dev/video0) ended before its first picture; "
          "showing colour bars"}},
        {"busy,raw", {Shown::Camera}, {busy + "; trying the next source"}},
        {"dropout",
         {Shown::CyanCamera, Shown::ColourBars},
         {"Dropout Camera\" (/dev/video0) stopped: "}},
        {"dropout,raw",
         {Shown::CyanCamera, Shown::Camera},
         {"velmora: camera \"Fake Dropout Camera\" (/dev/video0) stopped: "}},
        {"late",
         {Shown::ColourBars, Shown::Camera},
         {"velmora: now showing camera \"Fake Late Camera\" (/dev/video0)"}},
        // The infra-red camera comes after the colour one; C visits each source once, then
        // round again.
        {"grey,raw",
         {Shown::Camera, afterC(Shown::GreyCamera), afterC(Shown::ColourBars),
          afterC(Shown::Camera)},
         {"velmora: now showing camera \"Fake Grey Camera\" (/dev/video0)",
          "velmora: now showing colour bars",
          "velmora: now showing camera \"Fake Raw Camera\" (/dev/video1)"}},
        {"", {Shown::ColourBars, afterC(Shown::ColourBars)}, {"velmora: no other source to show"}},
        // Held by another program at first (at opening, then at its first frame), then free.
        {"freed",
         {Shown::ColourBars, Shown::Camera},
         {freed + " is busy; showing colour bars", "velmora: now showing " + freed.substr(9)}},
        // A device changed once a second is still the same camera.
        {"changing", {Shown::Camera}, {}, "", 2.5},
        {"", {Shown::Camera}, {}, "velmorafakecamsrc kind=mjpeg"},
        {"",
         {Shown::ColourBars},
         {"velmora: VELMORA_VIDEO_SOURCE \"filesrc location=/etc/passwd\" gives no picture: "},
         "filesrc location=/etc/passwd"},
    };
    for (const Case& c : cases) {
        const std::string name = c.cameras + " " + c.source;
        Program program({"window"},
                        {"VELMORA_VIDEO_SOURCE=" + c.source, "VELMORA_FAKE_CAMERAS=" + c.cameras,
                         "VELMORA_FAKE_DROPOUT_SECONDS=3", "VELMORA_FAKE_LATE_SECONDS=3",
                         "VELMORA_FAKE_BUSY_SECONDS=4"});
        const Window window = findTitled("Velmora", kStartSeconds);
        ASSERT_NE(window, 0u) << name;
        std::vector<Rgb> pixels;
        Shown seen = Shown::Nothing;
        for (const Step& wanted : c.pictures) {
            if (wanted.pressC)
                pressKey(window, XK_c);
            seen = Shown::Nothing;
            int width = 0, height = 0;
            for (int tries = 0; tries < 300 && seen != wanted.shown; ++tries) {
                pause(0.05);
                pixels = grab(window, width, height);
                seen = look(pixels);
            }
            EXPECT_EQ(seen, wanted.shown)
                << name << ": expected " << nameOf(wanted.shown) << ", saw " << nameOf(seen);
        }
        for (double waited = 0; waited < c.staySeconds && seen == c.pictures.back().shown;
             waited += 0.1) {
            pause(0.1);
            int width = 0, height = 0;
            seen = look(grab(window, width, height));
        }
        EXPECT_EQ(seen, c.pictures.back().shown) << name << ": stays, but saw " << nameOf(seen);
        if (c.cameras == "wide") {
            savePng(window, "fake-camera-wide.png");
            const double shape = darkShape(pixels);
            EXPECT_TRUE(shape > 0.85 && shape < 1.18)
                << "a 16:9 camera's disc stays round: width / height " << shape;
        }
        pressKey(window, XK_Escape);
        const Outcome outcome = program.wait(5);
        EXPECT_TRUE(outcome.exited && outcome.status == 0) << name << ": Escape ends it";
        const std::vector<std::string> said = linesOf(outcome.stderrText);
        EXPECT_EQ(said.size(), c.lines.size()) << name << ": said\n" << outcome.stderrText;
        for (size_t i = 0; i < said.size() && i < c.lines.size(); ++i)
            EXPECT_NE(said[i].find(c.lines[i]), std::string::npos)
                << name << ": line " << i << " is " << said[i];
    }
}

// Hands-free, a ball moving in the camera's left fifth (the screen's right) over a still white
// picture, for five seconds before the source ends on its last frame: the dark dots of the ball's
// side are pushed out into the white beside it, the far side stays as it is, and once the
// picture has been still for 3 s the dots glide home and the white is white again.
TEST(LiveProgram, HandsFreeMovementPushesTheDotsNearItThenTheyGoHome) {
    Program program({"window", "--hands-free"},
                    {"VELMORA_VIDEO_SOURCE=videotestsrc pattern=ball is-live=true num-buffers=150 "
                     "! video/x-raw,width=40,height=120,framerate=30/1 ! videobox right=-120 "
                     "fill=white"});
    const Window window = findTitled("Velmora", kStartSeconds);
    ASSERT_NE(window, 0u);
    // Dark pixels in a stretch of the picture, columns left to right - 1, rows 0 to 580.
    auto darkIn = [&](int left, int right) {
        int width = 0, height = 0;
        const std::vector<Rgb> pixels = grab(window, width, height);
        int dark = 0;
        for (int y = 0; y < std::min(height, 580); ++y)
            for (int x = left; x < std::min(right, width); ++x) {
                const Rgb& p = pixels[static_cast<size_t>(y * width + x)];
                dark += p.r + p.g + p.b < 300;
            }
        return dark;
    };
    // At home the ball's black backdrop ends at x = 600 (the discs reach 590 at most): dots out of
    // it show left of 570.
    EXPECT_TRUE(waitUntil(kChangeSeconds, [&] { return darkIn(450, 570) > 400; }))
        << "the moving ball's dots are pushed out beside it";
    EXPECT_EQ(darkIn(0, 300), 0) << "the far side stays white";
    EXPECT_TRUE(waitUntil(kChangeSeconds, [&] { return darkIn(450, 570) == 0; }))
        << "once the picture is still, the dots go home by themselves";
    pressKey(window, XK_Escape);
    const Outcome outcome = program.wait(kQuitSeconds);
    EXPECT_EQ(outcome.status, 0) << outcome.ended;
    EXPECT_EQ(outcome.stderrText, "");
}

} // namespace
