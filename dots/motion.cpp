#include "dots/motion.h"

#include "app/scene_state.h"
#include "camera/picture_movement.h"
#include "dots/dot.h"

#include <algorithm>
#include <cmath>

namespace {

const double kForceGain = 2.5;
const double kShiftFactor = 500;
// A dot closer to the pointer than this is taken as under it and gets no force: the force grows
// as 1 / distance, and nearer than this it would fling the dot beyond any useful range or
// overflow.
const double kMinPointerDistance = 1e-6;

// Velocity a dot gains, pixels a pass, for each level per cell of the movement's slope, and the
// most it gains from one camera frame: a hand through the dots brushes them aside by tens of
// pixels, and the fastest wave flings none of them across the screen.
const float kMovementGain = 0.025f;
const float kLargestMovementPush = 1.0f;

// The movement's push at a point of the grid, in cells from the first cell's centre, read
// between the four cells around it; a point beyond the grid reads its nearest edge.
void pushAt(const PictureMovement& m, float u, float v, float& x, float& y) {
    u = std::clamp(u, 0.0f, static_cast<float>(m.cols - 1));
    v = std::clamp(v, 0.0f, static_cast<float>(m.rows - 1));
    const int32_t col = static_cast<int32_t>(u), row = static_cast<int32_t>(v);
    const int32_t right = std::min(col + 1, m.cols - 1), below = std::min(row + 1, m.rows - 1);
    const float fu = u - static_cast<float>(col), fv = v - static_cast<float>(row);
    auto between = [&](const float* field) {
        const float top = field[row * m.cols + col] * (1 - fu) + field[row * m.cols + right] * fu;
        const float bottom =
            field[below * m.cols + col] * (1 - fu) + field[below * m.cols + right] * fu;
        return top * (1 - fv) + bottom * fv;
    };
    x = between(m.pushX);
    y = between(m.pushY);
}

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

void pushDotsByMovement(const PictureMovement& movement) {
    if (!movement.moved)
        return;
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        // The disc's centre, in cells from the first cell's centre.
        const float u = (dot.pos.x + dot.radius) / scene.cellSize - 0.5f;
        const float v = (dot.pos.y + dot.radius) / scene.cellSize - 0.5f;
        // Read between a cell and the next: only dots within one cell of the pushing ones move.
        if (u < movement.pushLeft - 1 || u > movement.pushRight + 1 || v < movement.pushTop - 1 ||
            v > movement.pushBottom + 1)
            continue;
        float x = 0, y = 0;
        pushAt(movement, u, v, x, y);
        x *= kMovementGain;
        y *= kMovementGain;
        const float size = std::sqrt(x * x + y * y);
        if (size > kLargestMovementPush) {
            x *= kLargestMovementPush / size;
            y *= kLargestMovementPush / size;
        }
        dot.vel.x += x;
        dot.vel.y += y;
    }
}
