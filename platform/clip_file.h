// Clips the user records: frames read back from OpenGL, encoded as VP8 in WebM on a thread of
// their own and written to the videos folder, so that no frame waits on the encoder or the disk.
// One recording runs at a time; a stopped one finishes on its own while the next may start.
#pragma once

#include <cstdint>

// When R starts a recording, in a frame pass: frames of readWidth x readHeight pixels as read
// back (4 bytes a pixel, B, G, R and one unused, bottom row first, as glReadPixels gives GL_BGRA),
// clipWidth x clipHeight pixels in the clip, scaled when the two differ. Creates the clip's hidden
// temporary file in the videos folder, a few frame buffers and the encoder thread; the clip is
// named after the local time now when it is finished. False, after one line on standard error
// saying why and where, when the file cannot be created or GStreamer cannot be started.
bool startClip(int readWidth, int readHeight, int clipWidth, int clipHeight);

// In each frame pass while recording: false once the recording has stopped by itself (the encoder
// could not be made, or the file could not be written further: said on standard error).
bool clipRecording();

// In a frame pass, when a frame is due: a free buffer for its pixels (readWidth x readHeight x 4
// bytes), or null when the encoder still holds every buffer: that frame is dropped and counted,
// and the count is said at the end. Never waits, never allocates.
uint8_t* claimClipFrame();

// In the same pass: hands the claimed buffer, filled, to the encoder thread with the time it
// was read back (the monotonic clock, ns). Does not wait.
void writeClipFrame(uint8_t* pixels, int64_t timeNs);

// When R stops the recording, or it stopped by itself: the encoder thread gives the muxer its
// end of stream, waits for the file to be finished (at most kClipEndSeconds), moves it to its
// name and says in one line on standard output where it is, how long it lasts and how many
// frames were dropped, if any. Does not wait.
void stopClip();

// At the end of the process: stops the recording, if one runs, and waits, at most seconds, until
// every clip is finished; one line on standard error names any clip left unfinished.
void finishClips(double seconds);

// Longest time the encoder thread waits for a stopped clip's end of stream to reach its file;
// the clip is then kept as far as it was written.
const double kClipEndSeconds = 4;
