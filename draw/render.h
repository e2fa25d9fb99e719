// The drawing of every frame, and the picture the user keeps read back from it.
#pragma once

#include <cstdint>

// First drawing step of each frame-loop pass: clears to white, samples every dot's cells and
// draws the dots in colour or as halftone discs. Nothing is shown yet.
void drawDots();

// Last step of each pass, after drawDots: the fading pointer ring, after a picture was taken the
// fading flash over the dots, and while a clip is recorded its blinking mark; then swaps the
// buffers.
void finishFrame();

// A whole frame, drawDots then finishFrame, for callers that keep no picture.
void renderFrame();

// The ring's opacity for this frame: ringAlpha closes 5 % of its gap to 101 - idleFrames,
// never below 0. Called once per frame by finishFrame.
void fadeRing();

// Starts the flash that shows a picture was taken: white fading out over the next 12 passes.
void startFlash();

// The size in pixels of the picture as drawn in the window: the view's rectangle (the viewport).
void pictureSize(int& width, int& height);

// After drawDots, before finishFrame: reads width x height pixels (pictureSize's) from the view's
// rectangle of the frame being drawn into pixels, 4 bytes a pixel (B, G, R, unused), bottom row
// first.
void readBackPicture(uint8_t* pixels, int width, int height);
