// The fixed OpenGL state, the pixel projection and the two shapes stamped every frame.
#pragma once

// Once, right after the display opens: white background, viewport and a projection in which one
// unit is one pixel, origin top-left, y down. Every piece of fixed GL state is set here, but for
// blending, which the drawing switches on for the ring alone and off again every frame.
void setupView(int width, int height);

// Compiles scene.discList: a filled polygon of segments corners on the unit circle, the first at
// (1, 0), in order of increasing angle.
void buildDiscList(int segments);

// Compiles scene.ringList: the same corners as a line strip, closed by a last vertex at (1, 0).
void buildRingList(int segments);
