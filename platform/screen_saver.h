// The desktop's screen saver, asked to keep the screen awake while the mirror shows: a webcam's
// picture is no input, so an idle desktop would otherwise blank or lock the screen under it.
// Exactly one request is made, under the program's own name: by SDL itself where SDL 1.2 is
// sdl12-compat (SDL 2 or 3 asks the desktop, the portal or the Wayland compositor), else by
// this layer over the session bus (SDL 1.2 itself only resets the X server's own screen saver
// every few seconds, and asks no desktop service).
#pragma once

// What the program's environment tells about the request to make.
struct ScreenSaverSigns {
    bool userAllowsSleep = false; // SDL_VIDEO_ALLOW_SCREENSAVER=1: SDL's own "let it sleep"
    bool sdlIsCompat = false;     // SDL 1.2 is sdl12-compat, whose SDL 2 or 3 asks by itself
    bool sandboxed = false;       // a Flatpak or Snap sandbox, which the desktop portal serves
    bool sessionBus = false;      // a session bus to ask on, without starting one
};

enum class ScreenSaverRequest {
    none,        // no request: the user lets the screen sleep, or there is no bus to ask on
    screenSaver, // org.freedesktop.ScreenSaver's Inhibit, let go with its cookie
    portal,      // the desktop portal's Inhibit of idleness, let go by closing its request
    bySdl,       // SDL asks by itself, under the name and reason nameSdlScreenSaverRequest gives
};

// The request for a process with the given signs: the user's setting wins, then SDL's own.
ScreenSaverRequest chooseScreenSaverRequest(const ScreenSaverSigns& signs);

// Before SDL_Init, with SDL's other settings: names the request SDL makes by itself after the
// program ("Velmora", "Showing the live mirror"), where the user has not named it otherwise.
void nameSdlScreenSaverRequest();

// Called once, right after the display opens: makes the request chosen for this process. Waits
// at most a second for the bus and one for its answer; says nothing where there is no bus or no
// screen saver on it.
void keepScreenAwake();

// keepScreenAwake's request of the given kind, on the session bus the environment names now (the
// tests' own); none and bySdl make none. Nothing more is asked while a request is held.
void requestScreenAwake(ScreenSaverRequest request);

// Called on every way the program ends, before SDL_Quit: lets go of the request made, if any.
// Safe to call when none was made, and more than once.
void letScreenSleep();
