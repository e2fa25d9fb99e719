// Movement in the picture, measured on the cells of real frames reduced by the program's camera
// grid: what counts as movement and what does not, and how far it pushes the dots.
#include "app/app.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "camera/picture_movement.h"
#include "dots/dot.h"
#include "dots/motion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

namespace {

const int kWidth = 160;
const int kHeight = 120;

// A frame as the camera sees it: the grey of each pixel (0..255) for its frame number, image row
// (0 at the top) and image column (0 at the camera's left, the screen's right once mirrored).
using Scene = std::function<double(int frame, int row, int col)>;

// A picture with something in it: soft bands of grey from 60 to 200.
double backdrop(int row, int col) {
    return 130 + 70 * std::sin(col / 13.0) * std::cos(row / 17.0);
}

struct Outcome {
    int movedFrames = 0;
    float largestPush = 0;     // levels per cell, anywhere
    float largestFarPush = 0;  // levels per cell, on the screen's left half
    float largestShift = 0;    // pixels, the dot that moved furthest from home
    float largestFarShift = 0; // pixels, the same among dots at home on the left 300 pixels
};

// Puts every dot at home, at rest.
void sendHome() {
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        scene.dots[i].pos = scene.dots[i].home;
        scene.dots[i].vel = Vec3{};
    }
}

// Feeds the frames (from a settled frame on, 30 more: a second at 30 a second) through the
// reduction and the measure, with a camera noise of up to noise levels a pixel (each byte apart,
// or the same for a pixel's three), and runs two passes of the dots' motion per frame, as at 60
// passes a second. The dots start at home at the settled frame.
Outcome feed(CameraGrid& camera, PictureMovement& movement, const Scene& picture, int settled,
             int noise, bool greyNoise) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    Outcome run;
    forgetMovement(movement);
    for (int frame = 0; frame <= settled + 30; ++frame) {
        if (frame == settled) {
            sendHome();
            run = Outcome{};
        }
        for (int row = 0; row < kHeight; ++row) {
            for (int col = 0; col < kWidth; ++col) {
                const double grey = picture(frame, row, col);
                uint8_t* pixel = camera.frameBuffer + ((kHeight - 1 - row) * kWidth + col) * 3;
                const int shared = jitter(random);
                for (int byte = 0; byte < 3; ++byte) {
                    const double value = grey + (greyNoise ? shared : jitter(random));
                    pixel[byte] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
                }
            }
        }
        camera.reduceFrame();
        measureMovement(movement, camera.cellLuminance());
        run.movedFrames += movement.moved;
        for (int cell = 0; cell < 1200; ++cell) {
            const float push = std::hypot(movement.pushX[cell], movement.pushY[cell]);
            run.largestPush = std::max(run.largestPush, push);
            if (cell % 40 < 20)
                run.largestFarPush = std::max(run.largestFarPush, push);
        }
        pushDotsByMovement(movement);
        moveDots();
        moveDots();
    }
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        const Dot& dot = scene.dots[i];
        const float shift = std::hypot(dot.pos.x - dot.home.x, dot.pos.y - dot.home.y);
        run.largestShift = std::max(run.largestShift, shift);
        if (dot.home.x < 300)
            run.largestFarShift = std::max(run.largestFarShift, shift);
    }
    return run;
}

TEST(PictureMovement, OnlyAHandMovesTheDotsAndOnlyOnItsSide) {
    sizeScene();
    // Made once and kept, as the program keeps its own.
    static CameraGrid* const camera = new CameraGrid(kWidth, kHeight, scene.cols, scene.rows);
    static PictureMovement* const movement = newPictureMovement(scene.cols, scene.rows);
    buildHomeLattice(camera->cellColors(), camera->cellLuminance());
    struct Case {
        const char* what;
        Scene picture;
        int settled; // frames before the dots are watched
        int noise;
        bool greyNoise;
        bool moves;
    };
    const Case cases[] = {
        {"a still picture", [](int, int r, int c) { return backdrop(r, c); }, 0, 0, false, false},
        {"noise of 8 levels a byte", [](int, int r, int c) { return backdrop(r, c); }, 0, 8, false,
         false},
        {"noise of 8 levels a pixel", [](int, int r, int c) { return backdrop(r, c); }, 0, 8, true,
         false},
        {"light growing by half in a second",
         [](int f, int r, int c) { return backdrop(r, c) * (0.7 + 0.5 * f / 30.0); }, 0, 4, false,
         false},
        {"the exposure falling by 60 levels in a second",
         [](int f, int r, int c) { return backdrop(r, c) + 30 - 2 * f; }, 0, 4, false, false},
        {"another picture, as when the source changes",
         [](int f, int r, int c) { return f < 15 ? backdrop(r, c) : backdrop(c, r) / 2; }, 0, 4,
         false, false},
        {"snow in a corner, from the second second on",
         [](int f, int r, int c) {
             return r > 80 && c > 120 ? (f * 7919 + r * 104729 + c * 1299709) % 256
                                      : backdrop(r, c);
         },
         60, 0, false, false},
        {"a hand waved over the camera's left",
         [](int f, int r, int c) {
             const double x = 30 + 20 * std::sin(f / 3.0); // to and fro, about twice a second
             return std::fabs(c - x) < 8 && r > 30 && r < 90 ? 40 : backdrop(r, c);
         },
         0, 4, false, true},
    };
    for (const Case& c : cases) {
        const Outcome run = feed(*camera, *movement, c.picture, c.settled, c.noise, c.greyNoise);
        if (!c.moves) {
            EXPECT_EQ(run.movedFrames, 0) << c.what;
            EXPECT_EQ(run.largestShift, 0) << c.what << ": no dot moves";
            continue;
        }
        EXPECT_GE(run.movedFrames, 25) << c.what;
        EXPECT_GE(run.largestShift, 20) << c.what << ": the dots near it move visibly";
        EXPECT_LE(run.largestShift, 200) << c.what << ": brushed aside, not flung away";
        EXPECT_EQ(run.largestFarPush, 0) << c.what << ": the other side is not pushed";
    }
}

} // namespace
