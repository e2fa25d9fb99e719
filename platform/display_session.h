// The desktop session the program's display opens on: an X server (a real one, or XWayland under
// a Wayland compositor) or a Wayland compositor itself, reached through SDL. SDL's video driver
// is chosen here, and whatever the windowing system tells about the display is asked here, so that
// the rest of the program knows neither X11 nor Wayland.
#pragma once

// At any time, SDL_Init or not: whether SDL 1.2 is sdl12-compat, the same interface over SDL 2 or
// 3 (which speaks Wayland and asks the desktop to keep the screen awake), not SDL 1.2 itself.
bool sdlIsCompat();

// What the program's environment tells of the desktop session.
struct SessionSigns {
    const char* userDriver = nullptr; // SDL_VIDEODRIVER as the user set it; null or "": unset
    bool xDisplay = false;            // DISPLAY names an X display (a real X server or XWayland)
    bool waylandDisplay = false;      // WAYLAND_DISPLAY or WAYLAND_SOCKET names a Wayland one
    bool sdlSpeaksWayland = false;    // SDL 1.2 is sdl12-compat, over an SDL with Wayland
};

enum class VideoDriver {
    user,    // the user's own SDL_VIDEODRIVER, left as it is
    x11,     // SDL's X11 driver: an X display, or none at all (SDL then says there is none)
    wayland, // SDL's Wayland driver: a Wayland session without an X display
    none,    // a Wayland session without an X display, with an SDL that cannot speak Wayland
};

// The driver for a session with the given signs. The user's own setting always wins; an X display
// comes next, as it is the display the program is tested on most; Wayland itself only where
// there is no X display to be had.
VideoDriver chooseVideoDriver(const SessionSigns& signs);

// Before SDL_Init, once: sets SDL_VIDEODRIVER to the driver chosen for this process's session.
// Returns false after one line on standard error, saying how to get an X display, when this SDL
// can open no display of the session; the caller then ends with status 1.
bool setVideoDriver();

// How full screen is made on a display.
enum class FullScreen {
    switchMode,    // SDL switches the monitor to the picture's own size
    scaleOnScreen, // SDL's full screen at the screen's size, the picture scaled into it
    // A frameless window of the monitor's size that the window manager is asked to show full
    // screen (askForFullScreen), the picture scaled into it.
    byWindowManager,
};

// What decides how full screen is made.
struct DisplayFacts {
    const char* driver = "";         // SDL's name of its video driver: "x11", "wayland", ...
    bool xWayland = false;           // the X server is XWayland, under a Wayland compositor
    bool sdlIsCompat = false;        // SDL 1.2 is sdl12-compat, over SDL 2 or 3
    bool pictureModeOffered = false; // SDL lists a full-screen mode of the picture's size
};

// The way for a display with the given facts. A mode switch only where it is real: XWayland and
// SDL's Wayland driver only pretend one, and the compositor stretches the small picture over the
// whole monitor. SDL 1.2's own full screen bypasses the window manager, which a Wayland
// compositor shows beneath its panels and without the mouse; the window manager is asked there.
FullScreen chooseFullScreen(const DisplayFacts& facts);

// The display surface of full screen.
struct FullScreenSurface {
    FullScreen way = FullScreen::switchMode;
    int width = 0;  // pixels: the picture's own where the monitor switches to it, else the
    int height = 0; // screen's (under XWayland, the pointer's monitor's)
};

// After SDL_Init, before the display opens: the way chooseFullScreen picks for this display and a
// picture of width x height pixels, and the surface for it. Under XWayland the surface fills the
// monitor that has the pointer, which is where the user looks and where compositors put a new
// full-screen window (the primary monitor where the pointer is not known); SDL is told to open
// its window there.
FullScreenSurface fullScreenSurface(int width, int height);

// After the display opens as a frameless window, where fullScreenSurface said byWindowManager:
// asks the window manager to show the window full screen on its monitor.
void askForFullScreen();

// After the display opens: the refresh rate in Hz of the monitor that shows the program's window,
// or 0 when it cannot be known (on SDL's Wayland driver, which tells no rate).
double windowRefreshHz();
