// The display's refresh rate, read from the X server's RandR extension, so that the frame loop can
// be held to it where the buffer swap does not wait for the display.
#pragma once

// Called once at start-up with the X display connection (a Display*) and a window of the program
// on it. Returns the refresh rate in Hz of the current mode of the monitor that shows the
// window's centre (the primary or first lit monitor when none does), or 0 when it cannot be known:
// no RandR extension, no monitor lit, or a mode without timings (as on virtual X servers).
double displayRefreshHz(void* display, unsigned long window);
