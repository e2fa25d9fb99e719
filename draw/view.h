// The fixed OpenGL state, the pixel projection and the two shapes stamped every frame.
#pragma once

// Once, right after the display opens, with the picture's size (800 x 600) and the display
// surface's size in pixels: white background, the picture placed on the surface (placePicture),
// viewport and scissor on it, and a projection in which one unit is one picture pixel, origin
// top-left, y down. Every piece of fixed GL state is set here, but for blending, which the
// drawing switches on for the ring alone and off again every frame.
void setupView(int width, int height, int surfaceWidth, int surfaceHeight);

// The size the picture is shown at on the display surface, in surface pixels.
struct PictureSize {
    int width = 0;
    int height = 0;
};

// The picture's place on the surface, sizes in pixels: the whole surface when it has the
// picture's shape, else the largest area of that shape in its middle. Sets scene.viewLeft,
// viewTop, viewScale and viewBorder, and returns the area's size.
PictureSize placePicture(int width, int height, int surfaceWidth, int surfaceHeight);

// First step of every frame's drawing: the picture cleared to white and its depth cleared,
// and the surface beside the picture, if any shows, to black.
void clearView();

// Compiles scene.discList: a filled polygon of segments corners on the unit circle, the first at
// (1, 0), in order of increasing angle.
void buildDiscList(int segments);

// Compiles scene.ringList: the same corners as a line strip, closed by a last vertex at (1, 0).
void buildRingList(int segments);
