// The camera grid on real GStreamer sources, chosen through VELMORA_VIDEO_SOURCE: what the cells
// show, the frames the copy hands over, and sources that end or fail.
#include "camera/camera_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int kCols = 40;
const int kRows = 30;
const int kFrameBytes = 160 * 120 * 3;

// A grid on the given source, kept for the life of the process as in the program.
CameraGrid* gridOn(const std::string& description) {
    static auto* grids = new std::vector<CameraGrid*>;
    setenv("VELMORA_VIDEO_SOURCE", description.c_str(), 1);
    grids->push_back(new CameraGrid(160, 120, kCols, kRows));
    unsetenv("VELMORA_VIDEO_SOURCE");
    return grids->back();
}

void sleepSeconds(double seconds) {
    usleep(static_cast<useconds_t>(seconds * 1e6));
}

// Grabs until a copy succeeds; false when none did within ten seconds.
bool firstFrame(CameraGrid* grid) {
    for (int tries = 0; tries < 500; ++tries) {
        grid->grabFrame();
        if (grid->lastResult >= 0)
            return true;
        sleepSeconds(0.02);
    }
    return false;
}

std::string cellText(const ColorTriple& c, int luminance) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
           ") luminance " + std::to_string(luminance);
}

TEST(LiveCapture, UniformSourcesGiveTheirColourInEveryCell) {
    struct Case {
        const char* pattern;
        ColorTriple average;
        int luminance;
    };
    const Case cases[] = {
        {"red", {255, 0, 0}, 54},        {"green", {0, 255, 0}, 182}, {"blue", {0, 0, 255}, 18},
        {"white", {255, 255, 255}, 255}, {"black", {0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        CameraGrid* grid = gridOn(std::string("videotestsrc pattern=") + c.pattern);
        ASSERT_TRUE(firstFrame(grid)) << c.pattern << ": no frame arrived";
        EXPECT_EQ(grid->frameBytes, kFrameBytes) << c.pattern;
        int wrong = 0;
        for (int cell = 0; cell < kCols * kRows; ++cell) {
            const ColorTriple& got = *grid->cellColors()[cell];
            const int luminance = grid->cellLuminance()[cell];
            if (got.r != c.average.r || got.g != c.average.g || got.b != c.average.b ||
                luminance != c.luminance) {
                if (++wrong == 1)
                    ADD_FAILURE() << c.pattern << ": cell " << cell << " is "
                                  << cellText(got, luminance) << ", expected "
                                  << cellText(c.average, c.luminance);
            }
        }
        EXPECT_EQ(wrong, 0) << c.pattern << ": cells not of the source's colour";
    }
}

// The camera image: red in its top-left quarter, blue elsewhere. Upright and mirrored, the red
// is at the top right of the grid.
TEST(LiveCapture, TheImageIsUprightAndMirroredThroughTheRealFrameCopy) {
    // In an RGB format, so the colours come through exactly (a round trip through YUV may not).
    CameraGrid* grid = gridOn("videotestsrc pattern=red ! video/x-raw,format=BGRx,width=80,"
                              "height=60 ! videobox right=-80 bottom=-60 fill=blue ! "
                              "video/x-raw,format=BGRx");
    ASSERT_TRUE(firstFrame(grid));
    for (int row = 0; row < kRows; ++row)
        for (int col = 0; col < kCols; ++col) {
            const bool red = row < kRows / 2 && col >= kCols / 2;
            const ColorTriple& got = *grid->cellColors()[row * kCols + col];
            const ColorTriple want = red ? ColorTriple{255, 0, 0} : ColorTriple{0, 0, 255};
            EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
                << "cell row " << row << " column " << col << " is " << cellText(got, 0)
                << ", expected " << (red ? "red" : "blue");
        }
}

TEST(LiveCapture, ALargeYuvSourceStillGivesSmallBgrFrames) {
    CameraGrid* grid = gridOn("videotestsrc pattern=red ! video/x-raw,format=YUY2,width=640,"
                              "height=480");
    ASSERT_TRUE(firstFrame(grid));
    EXPECT_EQ(grid->frameBytes, kFrameBytes) << "160 x 120 pixels of 3 bytes";
    for (int i = 0; i < kFrameBytes; i += 3) {
        const uint8_t* pixel = grid->frameBuffer + i;
        // Blue, green, red; red through YUV is not exactly 255.
        if (pixel[0] > 8 || pixel[1] > 8 || pixel[2] < 245) {
            ADD_FAILURE() << "byte " << i << ": (b, g, r) = (" << int(pixel[0]) << ", "
                          << int(pixel[1]) << ", " << int(pixel[2]) << "), expected red";
            break;
        }
    }
}

// A one-pixel checkerboard survives only if the source itself delivers 160 x 120: any scaling
// blends its neighbours.
TEST(LiveCapture, TheSourceIsAskedForTheCaptureSizeBeforeAnythingIsScaled) {
    struct Case {
        const char* caps;
        bool sharp;
    };
    const Case cases[] = {
        {"video/x-raw,width=[160,640],height=[120,480]", true},
        {"video/x-raw,width=640,height=480", false},
    };
    for (const Case& c : cases) {
        CameraGrid* grid = gridOn(std::string("videotestsrc pattern=checkers-1 ! ") + c.caps);
        ASSERT_TRUE(firstFrame(grid)) << c.caps;
        bool sharp = true;
        for (int i = 0; i < kFrameBytes; ++i)
            sharp = sharp && (grid->frameBuffer[i] == 0 || grid->frameBuffer[i] == 255);
        EXPECT_EQ(sharp, c.sharp) << c.caps
                                  << (c.sharp ? ": should come unscaled"
                                              : ": only scaling makes it fit");
    }
}

TEST(LiveCapture, ASourceThatEndsKeepsItsLastFrame) {
    // Snow is new in every frame, so the frames stop changing only when the source has ended;
    // a busy machine may hold one frame back for a while, so the end is a second without one.
    CameraGrid* grid = gridOn("videotestsrc pattern=snow num-buffers=15");
    ASSERT_TRUE(firstFrame(grid));
    std::vector<uint8_t> last(grid->frameBuffer, grid->frameBuffer + kFrameBytes);
    bool ended = false;
    for (int tries = 0, unchanged = 0; tries < 300 && !ended; ++tries) {
        sleepSeconds(0.1);
        grid->grabFrame();
        unchanged =
            std::memcmp(last.data(), grid->frameBuffer, kFrameBytes) == 0 ? unchanged + 1 : 0;
        ended = unchanged == 10;
        last.assign(grid->frameBuffer, grid->frameBuffer + kFrameBytes);
    }
    ASSERT_TRUE(ended) << "the source should have ended after 15 frames";
    for (int pass = 0; pass < 20; ++pass) {
        grid->grabFrame();
        EXPECT_EQ(grid->lastResult, 0) << "the copy still succeeds, pass " << pass;
        EXPECT_EQ(grid->frameBytes, kFrameBytes);
        EXPECT_EQ(std::memcmp(last.data(), grid->frameBuffer, kFrameBytes), 0)
            << "the last frame stays, pass " << pass;
        sleepSeconds(0.01);
    }
    int lit = 0;
    for (uint8_t byte : last)
        lit += byte != 0;
    EXPECT_GT(lit, 0) << "the kept frame is a real one, not the empty buffer";
}

// The top of the bars, mirrored: blue at the left of the grid, white at the right.
bool showsColourBars(const CameraGrid* grid) {
    const ColorTriple& left = *grid->cellColors()[0];
    const ColorTriple& right = *grid->cellColors()[kCols - 1];
    return left.r < 40 && left.g < 40 && left.b > 150 && right.r > 150 && right.g > 150 &&
           right.b > 150 && right.r == right.b;
}

// Grabs until the grid shows the colour bars; false when it did not within ten seconds.
bool colourBarsCome(CameraGrid* grid) {
    for (int tries = 0; tries < 500; ++tries) {
        grid->grabFrame();
        if (grid->lastResult >= 0 && showsColourBars(grid))
            return true;
        sleepSeconds(0.02);
    }
    return false;
}

TEST(LiveCapture, SourcesThatFailGiveWayToTheColourBarsAndSaySoOnce) {
    struct Case {
        const char* source;
        const char* why;
    };
    const Case cases[] = {
        {"filesrc location=/velmora/no/such/clip.mp4 ! decodebin", "could not be opened: "},
        {"filesrc location=/etc/passwd ! decodebin", "gives no picture: "},
        {"videotestsrc num-buffers=0", "ended before its first picture"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        CameraGrid* grid = gridOn(c.source);
        EXPECT_TRUE(colourBarsCome(grid)) << c.source << ": the colour bars take its place";
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string start =
            std::string("velmora: VELMORA_VIDEO_SOURCE \"") + c.source + "\" " + c.why;
        EXPECT_EQ(said.rfind(start, 0), 0u) << c.source << ": said " << said;
        const std::string end = "; showing colour bars\n";
        EXPECT_TRUE(said.size() > end.size() &&
                    said.compare(said.size() - end.size(), end.size(), end) == 0 &&
                    std::count(said.begin(), said.end(), '\n') == 1)
            << c.source << ": one line that says the colour bars come instead: " << said;
    }
}

TEST(LiveCapture, WithoutAChosenSourceAMachineWithoutCameraShowsColourBars) {
    // The tests' plugin set lists no camera unless VELMORA_FAKE_CAMERAS asks for one.
    CameraGrid* grid = gridOn("");
    ASSERT_TRUE(colourBarsCome(grid));
}

} // namespace
