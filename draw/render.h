// The drawing of every frame.
#pragma once

// Last step of each frame-loop pass: samples every dot's cells, draws the dots in colour or as
// halftone discs, then the fading pointer ring, and swaps the buffers.
void renderFrame();

// The ring's opacity for this frame: ringAlpha closes 5 % of its gap to 101 - idleFrames,
// never below 0. Called once per frame by renderFrame.
void fadeRing();
