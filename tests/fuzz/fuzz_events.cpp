// Streams of SDL events of every type, key code, button and position, each followed by frames of
// motion or glide. The interaction state must change only as the input handling promises, and
// every dot must stay finite. Escape and window close end the process, so they are left out.
#include "app/app.h"
#include "app/input.h"
#include "app/scene_state.h"
#include "dots/dot.h"
#include "dots/lattice.h"
#include "support/lattice_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <SDL.h>
#include <SDL_syswm.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

ColorTriple* cellColors[1200];
int32_t cellLuminance[1200];

void check(bool holds) {
    if (!holds)
        std::abort();
}

// What the state must be after the events of one pass, worked out from the events alone.
struct Expected {
    int32_t mouseX, mouseY;
    bool left, right, shift, colorMode;
    bool mouseActivity = false; // idleFrames back to 0
    bool forcesStopped = false; // a left or right release, or Enter
    bool glideStarted = false;
};

SDL_Event randomEvent(FuzzedDataProvider& input, Expected& expected) {
    SDL_Event event{};
    event.type = input.ConsumeIntegralInRange<Uint8>(0, SDL_NUMEVENTS - 1);
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        event.key.type = event.type;
        // Any 32-bit code, stored as the bytes of the event's key field.
        uint32_t sym = input.ConsumeIntegral<uint32_t>();
        const bool down = event.type == SDL_KEYDOWN;
        if (down && sym == SDLK_ESCAPE)
            sym = SDLK_a;
        std::memcpy(&event.key.keysym.sym, &sym, sizeof sym);
        if (sym == SDLK_LSHIFT || sym == SDLK_RSHIFT)
            expected.shift = down;
        else if (down && sym == SDLK_SPACE)
            expected.colorMode = !expected.colorMode;
        else if (down && sym == SDLK_RETURN)
            expected.glideStarted = expected.forcesStopped = true;
        break;
    }
    case SDL_MOUSEMOTION:
        event.motion.type = event.type;
        event.motion.x = input.ConsumeIntegral<Uint16>();
        event.motion.y = input.ConsumeIntegral<Uint16>();
        expected.mouseX = event.motion.x;
        expected.mouseY = event.motion.y;
        expected.mouseActivity = true;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        event.button.type = event.type;
        event.button.button = input.ConsumeIntegral<Uint8>();
        event.button.x = input.ConsumeIntegral<Uint16>();
        event.button.y = input.ConsumeIntegral<Uint16>();
        const bool down = event.type == SDL_MOUSEBUTTONDOWN;
        if (event.button.button == SDL_BUTTON_LEFT)
            expected.left = down;
        if (event.button.button == SDL_BUTTON_RIGHT)
            expected.right = down;
        if (!down &&
            (event.button.button == SDL_BUTTON_LEFT || event.button.button == SDL_BUTTON_RIGHT))
            expected.forcesStopped = true;
        expected.mouseActivity = true;
        break;
    }
    case SDL_QUIT:
        event.type = SDL_USEREVENT;
        break;
    case SDL_SYSWMEVENT: {
        // SDL copies the window-manager message along; its own events always carry one.
        static SDL_SysWMmsg message;
        event.syswm.msg = &message;
        break;
    }
    default:
        break;
    }
    return event;
}

bool dotsFinite() {
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        const Dot& dot = scene.dots[i];
        if (!std::isfinite(dot.pos.x) || !std::isfinite(dot.pos.y) || !std::isfinite(dot.vel.x) ||
            !std::isfinite(dot.vel.y) || !std::isfinite(dot.force.x) || !std::isfinite(dot.force.y))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        std::abort();
    sizeScene();
    buildHomeLattice(cellColors, cellLuminance);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // Every input starts from the lattice at rest at home, as after start-up.
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.pos = dot.home;
        dot.vel = dot.force = dot.start = Vec3{};
    }
    scene.mouseX = scene.mouseY = 0;
    scene.leftDown = scene.rightDown = scene.shiftDown = scene.homing = false;
    scene.colorMode = true;
    scene.homingFrame = scene.idleFrames = 0;

    while (input.remaining_bytes() > 0) {
        Expected expected{scene.mouseX,    scene.mouseY,    scene.leftDown,
                          scene.rightDown, scene.shiftDown, scene.colorMode};
        const int events = input.ConsumeIntegralInRange(0, 100); // SDL's queue holds 128
        for (int e = 0; e < events; ++e) {
            SDL_Event event = randomEvent(input, expected);
            check(SDL_PushEvent(&event) == 0);
        }
        const Vec3 forceBefore = scene.dots[7].force;
        const int32_t idleBefore = scene.idleFrames;
        pollEvents();
        check(scene.mouseX == expected.mouseX && scene.mouseY == expected.mouseY);
        check(scene.leftDown == expected.left && scene.rightDown == expected.right);
        check(scene.shiftDown == expected.shift && scene.colorMode == expected.colorMode);
        check(scene.idleFrames == (expected.mouseActivity ? 0 : idleBefore));
        if (expected.glideStarted)
            check(scene.homing && scene.homingFrame == 0);
        const Vec3 force = scene.dots[7].force;
        if (expected.forcesStopped)
            check(force.x == 0 && force.y == 0);
        else
            check(force.x == forceBefore.x && force.y == forceBefore.y);

        const int frames = input.ConsumeIntegralInRange(0, 30);
        for (int f = 0; f < frames; ++f) {
            advanceScene();
            countIdleFrame();
        }
        check(dotsFinite());
    }
    return 0;
}
