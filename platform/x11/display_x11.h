// What the X server tells about the display the program's window is on: the monitor's refresh
// rate (RandR) and whether the server is XWayland. The connection (a Display*) and the window are
// the caller's; nothing here keeps either.
#pragma once

// Called once at start-up with the X display connection (a Display*) and a window of the program
// on it. Returns the refresh rate in Hz of the current mode of the monitor that shows the
// window's centre (the primary or first lit monitor when none does), or 0 when it cannot be known:
// no RandR extension, no monitor lit, or a mode without timings (as on virtual X servers).
double displayRefreshHz(void* display, unsigned long window);

// Whether the X server behind the connection (a Display*) is XWayland, which runs X11 programs
// on a Wayland compositor and only pretends to switch modes. False for a null connection.
bool isXWayland(void* display);

// Asks the window manager, by the desktop's common convention (_NET_WM_STATE_FULLSCREEN), to show
// a mapped top-level window (an X Window) full screen on the monitor it is on.
void requestFullScreen(void* display, unsigned long window);

// The area of the monitor that shows the pointer, else of the primary monitor, else of the first,
// in root-window pixels (RandR 1.5 monitors). False when the server tells of none.
bool pointerMonitor(void* display, int& x, int& y, int& width, int& height);
