// Pictures the user keeps: the pixels of a frame, read back from OpenGL, encoded as a PNG and
// written to the pictures folder on a thread of their own, so that no frame waits on the disk.
#pragma once

#include <cstdint>

// Called once at start-up, after the display opens. readWidth x readHeight is the size in pixels
// of the picture as read back (4 bytes a pixel, B, G, R and one unused, bottom row first, as
// glReadPixels gives GL_BGRA); the PNG is pngWidth x pngHeight pixels, scaled when the two
// differ. Makes the writer thread and its few buffers; nothing is allocated after.
void startPictureFiles(int readWidth, int readHeight, int pngWidth, int pngHeight);

// In a frame pass, when the user asks for a picture: a free buffer for its pixels
// (readWidth x readHeight x 4 bytes), or null when earlier pictures still fill every buffer,
// after one line on standard error saying so. Null too before startPictureFiles.
uint8_t* claimPictureBuffer();

// In the same pass: hands the claimed buffer, filled, to the writer thread, which names the file
// after the local time now. Does not wait. When the file is written, one line on standard output
// names it; when it cannot be, one line on standard error says why and where.
void writePictureFile(uint8_t* pixels);

// At the end of the process: waits, at most seconds, until every picture handed over is written.
void finishPictureFiles(double seconds);
