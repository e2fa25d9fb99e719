// Movement in the picture, for the hands-free mode: how much each cell's luminance changed from
// one camera frame to the next beyond the camera's noise and the slow drift of the light, and the
// push that carries the dots away from where it changed. Measured on the cells the frame reduction
// already makes, never on the camera's pixels.
#pragma once

#include <cstdint>

struct PictureMovement {
    int32_t cols = 0;    // grid columns (40)
    int32_t rows = 0;    // grid rows (30)
    bool primed = false; // lastLuminance holds a camera frame to compare the next one with
    bool moved = false;  // the latest frame compared showed movement (enough change in all)
    int32_t* lastLuminance = nullptr; // per cell, luminance 0..255 of the previous camera frame
    int32_t* difference = nullptr;    // per cell, this frame's luminance less the previous one's
    float* change = nullptr; // per cell, luminance levels changed beyond noise and drift, 0..255
    // Per cell, how much of the recent frames changed there, 0..1, a second or so remembered: a
    // cell that changes all the time (a television in view, a flickering light, snow) is
    // restless, and its change moves nothing.
    float* restless = nullptr;
    float* spread = nullptr;  // per cell, the change spread over its neighbours, levels
    float* scratch = nullptr; // per cell, the spreading's half-way result
    // Per cell, the slope of the spread change, levels per cell, pointing away from the movement:
    // the way a dot there is pushed. All zero when the picture did not move.
    float* pushX = nullptr;
    float* pushY = nullptr;
    // The cells outside which the push is zero: first and last column and row, none when still.
    int32_t pushLeft = 0, pushRight = -1, pushTop = 0, pushBottom = -1;
};

// At start-up: a measure for a grid of cols x rows cells, all its storage allocated now, not yet
// primed.
PictureMovement* newPictureMovement(int32_t cols, int32_t rows);

// For each camera frame that is new, never for the same frame copied again: compares the cells'
// luminances (cols x rows, 0..255) with the previous frame's, sets change, the push and moved, and
// keeps the luminances for the next frame. The first frame after priming is lost only primes.
// Allocates nothing.
void measureMovement(PictureMovement& movement, const int32_t* luminance);

// Forgets the previous frame, so that the next one only primes: for when the mode is turned off
// or on, and nothing compared should span the time between.
void forgetMovement(PictureMovement& movement);
