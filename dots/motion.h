// The mouse forces and the motion of the dots, once per frame while no glide runs.
#pragma once

struct PictureMovement;

// With a button held, points every dot's force at the pointer (left) or away from it (right),
// magnitude 2.5 / distance in pixels, 500 times that with Shift. No button: forces untouched.
void applyMouseForces();

// Integrates every dot one frame and wraps it around the 840 x 640 field that reaches 20 pixels
// beyond each edge of the display.
void moveDots();

// Hands-free, once for each new camera frame while no glide runs: pushes every dot away from where
// the picture moved, adding to its velocity the movement's push at the dot's centre, pixels a
// pass, at most a few. A picture that did not move pushes nothing.
void pushDotsByMovement(const PictureMovement& movement);
