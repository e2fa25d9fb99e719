// The real program on a known video source: the dots on screen have the colours the source must
// give, and the program ends cleanly while the capture runs.
#include "program_harness.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <string>

using namespace harness;

namespace {

const double kStartSeconds = 15; // software OpenGL on a busy machine can be slow to start
// The camera image: red in its top-left quarter, blue elsewhere.
const char kQuarterSource[] = "VELMORA_VIDEO_SOURCE=videotestsrc pattern=red ! "
                              "video/x-raw,width=80,height=60 ! videobox right=-80 bottom=-60 "
                              "fill=blue";

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
