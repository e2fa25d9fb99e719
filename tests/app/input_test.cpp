#include "app/input.h"
#include "app/scene_state.h"
#include "dots/dot.h"
#include "draw/view.h"

#include "support/sdl_events.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// SDL's dummy video driver gives a real event queue without any display.
class Input : public ::testing::Test {
  protected:
    std::vector<Dot> dots = std::vector<Dot>(3);

    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        scene = SceneState{};
        for (Dot& dot : dots)
            dot.setForce(1, 2);
        scene.dots = dots.data();
        scene.dotCount = static_cast<int32_t>(dots.size());
        scene.idleFrames = 50;
    }
    void TearDown() override { SDL_Quit(); }

    bool forcesAre(float fx, float fy) const {
        for (const Dot& dot : dots)
            if (dot.force.x != fx || dot.force.y != fy)
                return false;
        return true;
    }
};

TEST_F(Input, NoPendingEventChangesNothing) {
    pollEvents();
    EXPECT_EQ(scene.idleFrames, 50);
    EXPECT_TRUE(scene.colorMode);
    EXPECT_TRUE(forcesAre(1, 2));
}

TEST_F(Input, LastOfSeveralMotionsWinsAndRestartsTheRingFade) {
    pushMotion(10, 20);
    pushMotion(65535, 7);
    pushMotion(300, 400);
    pollEvents();
    EXPECT_EQ(scene.mouseX, 300);
    EXPECT_EQ(scene.mouseY, 400);
    EXPECT_EQ(scene.idleFrames, 0);
}

TEST_F(Input, MotionPositionsWidenWithoutSign) {
    pushMotion(65535, 40000);
    pollEvents();
    EXPECT_EQ(scene.mouseX, 65535);
    EXPECT_EQ(scene.mouseY, 40000);
}

struct ScreenCase {
    int width, height; // the display surface in pixels
    int left, top;     // where the 800 x 600 picture lies on it
    float scale;       // surface pixels per picture pixel
    bool border;       // black shows beside the picture
};

TEST_F(Input, MotionOverAPlacedPictureIsTakenInPicturePixels) {
    const ScreenCase cases[] = {
        {800, 600, 0, 0, 1.0f, false},    // a window, or a screen switched to 800 x 600
        {1024, 768, 0, 0, 1.28f, false},  // 4:3 and larger: scaled, no border
        {1920, 1080, 240, 0, 1.8f, true}, // 16:9: black at the sides
        {1280, 1024, 0, 32, 1.6f, true},  // 5:4: black above and below
        {1366, 768, 171, 0, 1.28f, true}, // odd margins round down
    };
    for (const ScreenCase& c : cases) {
        placePicture(800, 600, c.width, c.height);
        EXPECT_EQ(scene.viewLeft, c.left) << c.width << " x " << c.height;
        EXPECT_EQ(scene.viewTop, c.top) << c.width << " x " << c.height;
        EXPECT_FLOAT_EQ(scene.viewScale, c.scale) << c.width << " x " << c.height;
        EXPECT_EQ(scene.viewBorder, c.border) << c.width << " x " << c.height;
        // The picture's corners and a point inside it, as the pointer reaches them on the surface.
        for (const int px : {0, 280, 799}) {
            const int py = px * 599 / 799;
            pushMotion(static_cast<Uint16>(c.left + std::ceil(px * c.scale)),
                       static_cast<Uint16>(c.top + std::ceil(py * c.scale)));
            pollEvents();
            EXPECT_EQ(scene.mouseX, px) << c.width << " x " << c.height;
            EXPECT_EQ(scene.mouseY, py) << c.width << " x " << c.height;
        }
    }
    pushMotion(100, 0);
    pollEvents();
    EXPECT_EQ(scene.mouseX, -56) << "over the black at the left of a 1366 x 768 screen";
}

struct ButtonCase {
    Uint8 button;
    bool left, right;
};

TEST_F(Input, ButtonPressesSetOnlyTheirOwnFlagAndKeepThePointer) {
    const ButtonCase cases[] = {
        {SDL_BUTTON_LEFT, true, false},
        {SDL_BUTTON_RIGHT, false, true},
        {SDL_BUTTON_MIDDLE, false, false},
        {SDL_BUTTON_WHEELUP, false, false},
        {SDL_BUTTON_WHEELDOWN, false, false},
        {0, false, false},
        {255, false, false},
    };
    for (const ButtonCase& c : cases) {
        scene.leftDown = scene.rightDown = false;
        scene.mouseX = 5;
        scene.mouseY = 6;
        scene.idleFrames = 50;
        pushButton(SDL_MOUSEBUTTONDOWN, c.button, 777, 555);
        pollEvents();
        EXPECT_EQ(scene.leftDown, c.left) << "button " << int(c.button);
        EXPECT_EQ(scene.rightDown, c.right) << "button " << int(c.button);
        EXPECT_EQ(scene.idleFrames, 0) << "every button counts as mouse activity";
        EXPECT_EQ(scene.mouseX, 5) << "only motion moves the pointer";
        EXPECT_EQ(scene.mouseY, 6);
        EXPECT_TRUE(forcesAre(1, 2)) << "a press sets no force";
    }
}

TEST_F(Input, ReleasingLeftOrRightStopsEveryForceOthersDoNot) {
    const ButtonCase cases[] = {
        {SDL_BUTTON_LEFT, false, true},  // right stays held
        {SDL_BUTTON_RIGHT, true, false}, // left stays held
    };
    for (const ButtonCase& c : cases) {
        scene.leftDown = scene.rightDown = true;
        for (Dot& dot : dots)
            dot.setForce(1, 2);
        for (Uint8 other : {SDL_BUTTON_MIDDLE, SDL_BUTTON_WHEELUP, SDL_BUTTON_WHEELDOWN})
            pushButton(SDL_MOUSEBUTTONUP, other, 777, 555);
        scene.idleFrames = 50;
        pollEvents();
        EXPECT_TRUE(forcesAre(1, 2)) << "middle and wheel releases leave forces alone";
        EXPECT_EQ(scene.idleFrames, 0);
        pushButton(SDL_MOUSEBUTTONUP, c.button, 777, 555);
        pollEvents();
        EXPECT_EQ(scene.leftDown, c.left) << "button " << int(c.button);
        EXPECT_EQ(scene.rightDown, c.right) << "button " << int(c.button);
        EXPECT_TRUE(forcesAre(0, 0)) << "button " << int(c.button);
    }
}

TEST_F(Input, KeysLeaveTheRingFadeAlone) {
    pushKey(SDL_KEYDOWN, SDLK_a);
    pushKey(SDL_KEYUP, SDLK_a);
    pushKey(SDL_KEYDOWN, SDLK_LSHIFT);
    pollEvents();
    EXPECT_EQ(scene.idleFrames, 50);
}

TEST_F(Input, SpaceTogglesTheModeAndEnterStartsTheGlideInOnePass) {
    pushKey(SDL_KEYDOWN, SDLK_SPACE);
    pushKey(SDL_KEYDOWN, SDLK_RETURN);
    pollEvents();
    EXPECT_FALSE(scene.colorMode);
    EXPECT_TRUE(scene.homing);
    EXPECT_TRUE(forcesAre(0, 0)) << "the glide stops every dot";
    pushKey(SDL_KEYDOWN, SDLK_SPACE);
    pushKey(SDL_KEYUP, SDLK_SPACE);
    pollEvents();
    EXPECT_TRUE(scene.colorMode) << "Space twice returns to colour mode";
}

TEST_F(Input, EnterDuringTheGlideRestartsIt) {
    scene.homing = true;
    scene.homingFrame = 12;
    pushKey(SDL_KEYDOWN, SDLK_RETURN);
    pollEvents();
    EXPECT_TRUE(scene.homing);
    EXPECT_EQ(scene.homingFrame, 0);
}

TEST_F(Input, EitherShiftReleaseClearsTheOneShiftFlag) {
    pushKey(SDL_KEYDOWN, SDLK_LSHIFT);
    pushKey(SDL_KEYDOWN, SDLK_RSHIFT);
    pollEvents();
    EXPECT_TRUE(scene.shiftDown);
    pushKey(SDL_KEYUP, SDLK_LSHIFT);
    pollEvents();
    EXPECT_FALSE(scene.shiftDown) << "right Shift is still held, but the flag is shared";
    pushKey(SDL_KEYDOWN, SDLK_RSHIFT);
    pollEvents();
    EXPECT_TRUE(scene.shiftDown);
    pushKey(SDL_KEYUP, SDLK_RSHIFT);
    pollEvents();
    EXPECT_FALSE(scene.shiftDown);
}

TEST_F(Input, OtherKeysAndEventTypesAreIgnored) {
    const SceneState before = scene;
    for (SDLKey sym : {SDLK_a, SDLK_UP, SDLK_LCTRL, SDLK_KP_ENTER, SDLK_F1}) {
        pushKey(SDL_KEYDOWN, sym);
        pushKey(SDL_KEYUP, sym);
    }
    // A code beyond the keys SDL names is a key like any other without an action.
    SDL_Event unnamed{};
    unnamed.type = unnamed.key.type = SDL_KEYDOWN;
    const uint32_t code = 1280;
    std::memcpy(&unnamed.key.keysym.sym, &code, sizeof code);
    pushEvent(unnamed);
    SDL_Event other{};
    for (Uint8 type : {Uint8(SDL_ACTIVEEVENT), Uint8(SDL_VIDEORESIZE), Uint8(SDL_VIDEOEXPOSE),
                       Uint8(SDL_USEREVENT)}) {
        other.type = type;
        pushEvent(other);
    }
    pollEvents();
    EXPECT_EQ(scene.colorMode, before.colorMode);
    EXPECT_EQ(scene.homing, before.homing);
    EXPECT_EQ(scene.shiftDown, before.shiftDown);
    EXPECT_EQ(scene.idleFrames, before.idleFrames);
    EXPECT_TRUE(forcesAre(1, 2));
}

using InputDeathTest = Input;

TEST_F(InputDeathTest, EscapeEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(
        {
            pushKey(SDL_KEYDOWN, SDLK_ESCAPE);
            pushKey(SDL_KEYDOWN, SDLK_SPACE);
            pollEvents();
            std::exit(3); // not reached: Escape ends the process at once
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(InputDeathTest, ClosingTheWindowEndsTheProcessWithStatusZero) {
    EXPECT_EXIT(
        {
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            pushEvent(quit);
            pollEvents();
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
