// One dot of the lattice: a damped point mass with a home place and a fixed binding to the grid
// cells under that home, from which it takes its colour and luminance.
#pragma once

#include "camera/color_triple.h"
#include "dots/vec3.h"

#include <cstdint>

class Dot {
  public:
    // The default dot: at (0, 0), radius 10, damping 0.959999.
    Dot();
    // A dot at (x, y) in pixels, at home there, at rest.
    Dot(float x, float y, float radius, float damping);

    // One frame of motion: damp the velocity, add the force, move by the velocity.
    void integrate();
    // Sets the force's x and y, in pixels per frame per frame; z is untouched.
    void setForce(float fx, float fy);
    // Recompute color / luminance from the bound cells: the single cell's value, or the
    // truncated average over all of them.
    void sampleColor();
    void sampleLuminance();
    // Allocate the list of bound cell indices, in argument order; the caller sets cellCount.
    void bindCells(int32_t a);
    void bindCells(int32_t a, int32_t b);
    void bindCells(int32_t a, int32_t b, int32_t c, int32_t d);

    Vec3 pos;          // current position in pixels; the disc is centred at pos + (radius, radius)
    Vec3 home;         // the dot's place in the lattice
    Vec3 vel;          // velocity in pixels per frame
    Vec3 force;        // added to the velocity every frame (unit mass)
    Vec3 start;        // position when the return-home glide began
    float damping = 0; // velocity factor per frame (0.95 in the lattice)
    float radius = 0;  // disc radius in pixels
    ColorTriple color; // sampled from the bound cells, 0..255
    int32_t luminance = 0;              // sampled from the bound cells, 0..255
    ColorTriple** cellColors = nullptr; // the camera's per-cell colours; shared
    int32_t* cellLuminance = nullptr;   // the camera's per-cell luminances; shared
    int32_t* cells = nullptr;           // bound cell indices (row x cols + column); owned
    int32_t cellCount = 0;              // 1, 2 or 4
};
