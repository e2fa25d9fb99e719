// Events pushed into SDL's queue, where the program's input handling polls them: for the tests
// that drive pollEvents or whole frame-loop passes.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>

inline void pushEvent(SDL_Event event) {
    EXPECT_EQ(SDL_PushEvent(&event), 0) << SDL_GetError();
}

inline void pushKey(Uint8 type, SDLKey sym) {
    SDL_Event event{};
    event.type = event.key.type = type;
    event.key.keysym.sym = sym;
    pushEvent(event);
}

// A button going down or up at (x, y) pixels.
inline void pushButton(Uint8 type, Uint8 button, Uint16 x = 0, Uint16 y = 0) {
    SDL_Event event{};
    event.type = event.button.type = type;
    event.button.button = button;
    event.button.x = x;
    event.button.y = y;
    pushEvent(event);
}

// The pointer moved to (x, y) pixels.
inline void pushMotion(Uint16 x, Uint16 y) {
    SDL_Event event{};
    event.type = event.motion.type = SDL_MOUSEMOTION;
    event.motion.x = x;
    event.motion.y = y;
    pushEvent(event);
}
