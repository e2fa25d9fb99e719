// The clip the user records with R: the dots as drawn, read back in the pass before the ring, the
// flash and the recording mark are drawn over them, at the display's pace but at most 30 frames a
// second, and handed to the encoder thread.
#pragma once

#include <cstdint>

// In every frame pass, between the dots and the ring: starts or stops a recording when R was
// pressed, and while one runs, reads the dots back and hands them over when a frame is due.
// Allocates nothing but when a recording starts or stops.
void recordFrameIfDue();

// Whether a frame is due sinceFrameNs after the last one taken, in a pass that began passNs after
// the pass before: once a 30th of a second less half a pass has gone by. So at most 30 frames a
// second, every second pass at 60 passes a second and every pass at 30.
bool clipFrameDue(int64_t sinceFrameNs, int64_t passNs);
