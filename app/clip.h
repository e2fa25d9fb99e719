// The clip the user records with R: the dots as drawn, read back in the pass before the ring, the
// flash and the recording mark are drawn over them, at the display's pace but at most 30 frames a
// second, and handed to the encoder thread.
#pragma once

#include <cstdint>

// In every frame pass, between the dots and the ring: starts or stops a recording when R was
// pressed, and while one runs, reads the dots back and hands them over when a frame is due.
// Allocates nothing but when a recording starts or stops.
void recordFrameIfDue();

// When the frames of a recording are due. Times are ns of the monotonic clock.
struct ClipPace {
    int64_t nextFrameNs = 0; // when the next frame is due; a recording's first at once
    int64_t lastPassNs = 0;  // when the pass before looked
};

// Called once a pass at nowNs: whether a frame is due. Frames are due a 30th of a second apart,
// each taken in the pass that comes within half a pass of its time; after a stall longer than
// that spacing they are due afresh from now. So at most 30 frames a second and at the display's
// pace: every second pass at 60 passes a second, every pass at 30, 30 a second at 75.
bool clipFrameDue(ClipPace& pace, int64_t nowNs);
