#include "dots/motion.h"

#include "app/scene_state.h"
#include "dots/dot.h"

#include <cmath>

namespace {

const double kForceGain = 2.5;
const double kShiftFactor = 500;
// A dot closer to the pointer than this is taken as under it and gets no force: the force grows
// as 1 / distance, and nearer than this it would fling the dot beyond any useful range or
// overflow.
const double kMinPointerDistance = 1e-6;

// Moves value back by one period when it lies beyond either limit; a value on a limit stays.
float wrap(float value, double margin, double limit) {
    if (value < -margin)
        return static_cast<float>(value + limit + margin);
    if (value > limit)
        return static_cast<float>(value - (limit + margin));
    return value;
}

} // namespace

void applyMouseForces() {
    if (!scene.leftDown && !scene.rightDown)
        return;
    const float mx = static_cast<float>(scene.mouseX);
    const float my = static_cast<float>(scene.mouseY);
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        const double dx = static_cast<double>(mx) - dot.pos.x;
        const double dy = static_cast<double>(my) - dot.pos.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (!(d >= kMinPointerDistance)) {
            dot.setForce(0, 0);
            continue;
        }
        double k = kForceGain / (d * d);
        if (scene.shiftDown)
            k = k * kShiftFactor;
        const float fx = static_cast<float>(dx * k);
        const float fy = static_cast<float>(dy * k);
        if (scene.rightDown)
            dot.setForce(-fx, -fy);
        else
            dot.setForce(fx, fy);
    }
}

void moveDots() {
    const double margin = 2.0 * scene.dotRadius;
    const double right = scene.screenWidth + margin;
    const double bottom = scene.screenHeight + margin;
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.integrate();
        dot.pos.x = wrap(dot.pos.x, margin, right);
        dot.pos.y = wrap(dot.pos.y, margin, bottom);
    }
}
