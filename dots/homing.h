// The return-home glide: every dot back to its home in 20 eased frames.
#pragma once

// On Enter: starts (or restarts) the glide from the dots' current positions, stopping them.
void startHoming();

// Once per frame while scene.homing is set: moves every dot one eased step towards home; the
// 20th step puts it there and ends the glide.
void stepHoming();
