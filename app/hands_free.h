// The hands-free mode, for a mirror on a wall: movement in the camera's picture pushes the dots
// away, as a hand brushing through them, and once neither the picture nor the mouse has moved for
// a while the dots glide home by themselves.
#pragma once

#include <cstdint>

// How long the picture and the mouse must be still before the dots go home, in seconds.
const double kStillSecondsBeforeHome = 3;

// In every frame pass, after the camera's frame and before the motion: in the mode, a new camera
// frame's movement pushes the dots (unless they glide home), and the still passes are counted, the
// glide home starting once scene.homeAfterPasses of them are reached. Out of the mode it forgets
// the picture, so that nothing is compared across the time it was off. Allocates nothing.
void senseMovement();

// M: turns the mode on or off, saying so in one line on standard output.
void toggleHandsFree();
