#include "dots/dot.h"

Dot::Dot() : Dot(0, 0, 10.0f, 0.959999f) {}

Dot::Dot(float x, float y, float radius, float damping) : damping(damping), radius(radius) {
    pos = {x, y, 0};
    home = {x, y, 0};
}

void Dot::integrate() {
    vel.x = static_cast<float>(static_cast<double>(vel.x) * damping + force.x);
    vel.y = static_cast<float>(static_cast<double>(vel.y) * damping + force.y);
    pos.x = static_cast<float>(static_cast<double>(pos.x) + vel.x);
    pos.y = static_cast<float>(static_cast<double>(pos.y) + vel.y);
}

void Dot::setForce(float fx, float fy) {
    force.x = fx;
    force.y = fy;
}

void Dot::sampleColor() {
    color = ColorTriple{};
    if (cellCount <= 1) {
        color = *cellColors[cells[0]];
        return;
    }
    for (int32_t i = 0; i < cellCount; ++i) {
        const ColorTriple* cell = cellColors[cells[i]];
        color.r += cell->r;
        color.g += cell->g;
        color.b += cell->b;
    }
    color.r /= cellCount;
    color.g /= cellCount;
    color.b /= cellCount;
}

void Dot::sampleLuminance() {
    luminance = 0;
    if (cellCount <= 1) {
        luminance = cellLuminance[cells[0]];
        return;
    }
    for (int32_t i = 0; i < cellCount; ++i)
        luminance += cellLuminance[cells[i]];
    luminance /= cellCount;
}

void Dot::bindCells(int32_t a) {
    cells = new int32_t[1]{a};
}

void Dot::bindCells(int32_t a, int32_t b) {
    cells = new int32_t[2]{a, b};
}

void Dot::bindCells(int32_t a, int32_t b, int32_t c, int32_t d) {
    cells = new int32_t[4]{a, b, c, d};
}
