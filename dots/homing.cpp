#include "dots/homing.h"

#include "app/scene_state.h"
#include "dots/dot.h"

#include <cmath>

namespace {

const int32_t kGlideFrames = 20;
const float kPhaseStep = 0.05f; // half a cosine period over the glide, per frame
const double kPi = 3.1415926535897;

} // namespace

void startHoming() {
    scene.homing = true;
    scene.homingFrame = 0;
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.setForce(0, 0);
        dot.start.x = dot.pos.x;
        dot.start.y = dot.pos.y;
        dot.vel.x = 0;
        dot.vel.y = 0;
    }
}

void stepHoming() {
    ++scene.homingFrame;
    if (scene.homingFrame == kGlideFrames)
        scene.homing = false;
    const float t = static_cast<float>(
        (1 - std::cos(scene.homingFrame * static_cast<double>(kPhaseStep) * kPi)) * 0.5);
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.pos.x =
            static_cast<float>(dot.start.x + (static_cast<double>(dot.home.x) - dot.start.x) * t);
        dot.pos.y =
            static_cast<float>(dot.start.y + (static_cast<double>(dot.home.y) - dot.start.y) * t);
    }
}
