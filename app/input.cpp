#include "app/input.h"

#include "app/app.h"
#include "app/hands_free.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "dots/dot.h"
#include "dots/homing.h"
#include "platform/stop_signals.h"

#include <cmath>
#include <cstring>

namespace {

// The key code as the 32-bit number the event carries. Read as a number, not as SDL's key
// enumeration, so that a code beyond the keys SDL names is simply a key without an action.
uint32_t keyCode(const SDL_keysym& key) {
    uint32_t code = 0;
    std::memcpy(&code, &key.sym, sizeof code);
    return code;
}

// A pointer position on the display surface in picture pixels, along one axis: the picture
// starts at viewStart surface pixels and is scaled by scene.viewScale.
int32_t toPicture(uint16_t surfacePixels, int32_t viewStart) {
    return static_cast<int32_t>(std::floor((surfacePixels - viewStart) / scene.viewScale));
}

// A released button stops the mouse force on every dot; the dots coast on their velocity.
void releaseForces() {
    for (int32_t i = 0; i < scene.dotCount; ++i)
        scene.dots[i].setForce(0, 0);
}

void onButtonDown(uint8_t button) {
    if (button == SDL_BUTTON_LEFT)
        scene.leftDown = true;
    else if (button == SDL_BUTTON_RIGHT)
        scene.rightDown = true;
}

void onButtonUp(uint8_t button) {
    if (button == SDL_BUTTON_LEFT) {
        scene.leftDown = false;
        releaseForces();
    } else if (button == SDL_BUTTON_RIGHT) {
        scene.rightDown = false;
        releaseForces();
    }
}

} // namespace

void pollEvents() {
    // SIGINT or SIGTERM ends the program as closing the window does.
    if (stopRequested())
        quitApp(0);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_KEYDOWN:
            onKeyDown(event.key.keysym);
            break;
        case SDL_KEYUP:
            onKeyUp(event.key.keysym);
            break;
        case SDL_MOUSEMOTION:
            // The ring and the forces follow the pointer over the picture wherever it lies.
            scene.mouseX = toPicture(event.motion.x, scene.viewLeft);
            scene.mouseY = toPicture(event.motion.y, scene.viewTop);
            scene.idleFrames = 0;
            break;
        case SDL_MOUSEBUTTONDOWN:
            onButtonDown(event.button.button);
            scene.idleFrames = 0;
            break;
        case SDL_MOUSEBUTTONUP:
            onButtonUp(event.button.button);
            scene.idleFrames = 0;
            break;
        case SDL_QUIT:
            quitApp(0);
        default:
            break;
        }
    }
}

void onKeyDown(const SDL_keysym& key) {
    switch (keyCode(key)) {
    case SDLK_RETURN:
        startHoming();
        break;
    case SDLK_ESCAPE:
        quitApp(0);
    case SDLK_SPACE:
        scene.colorMode = !scene.colorMode;
        break;
    case SDLK_c:
        // The next camera, or another source; the camera says what it shows now.
        if (scene.camera)
            scene.camera->chooseNextSource();
        break;
    case SDLK_s: // with or without Shift or Ctrl: the key's code is the same
        ++scene.picturesAsked;
        break;
    case SDLK_r: // likewise
        ++scene.recordPresses;
        break;
    case SDLK_m: // the hands-free mode, on or off
        toggleHandsFree();
        break;
    case SDLK_RSHIFT:
    case SDLK_LSHIFT:
        scene.shiftDown = true;
        break;
    default:
        break;
    }
}

void onKeyUp(const SDL_keysym& key) {
    const uint32_t code = keyCode(key);
    if (code == SDLK_RSHIFT || code == SDLK_LSHIFT)
        scene.shiftDown = false;
}
