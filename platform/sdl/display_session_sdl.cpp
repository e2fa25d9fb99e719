// The desktop session as SDL reaches it: SDL's video driver chosen from the environment, and the
// X server's answers (XWayland or not, the refresh rate) asked over SDL's own connection.
#include "platform/display_session.h"

#include "platform/x11/display_x11.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// SDL 1.2 itself ended at 1.2.15 and knows X11 but not Wayland; sdl12-compat, the same interface
// over SDL 2 or 3, numbers its releases 1.2.50 and up and takes any driver of the SDL below it.
const Uint8 kFirstCompatPatch = 50;

const char kNeedsXDisplay[] =
    "velmora: this Wayland session has no X display (DISPLAY is not set), and Velmora needs one "
    "here: turn XWayland on in your desktop (most start it by themselves; in Sway, 'xwayland "
    "enable'), or log in to an X11 session\n";

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether the display can switch to width x height pixels for a full-screen OpenGL display.
bool modeOffered(int width, int height) {
    SDL_Rect** modes = SDL_ListModes(nullptr, SDL_FULLSCREEN | SDL_OPENGL);
    if (modes == reinterpret_cast<SDL_Rect**>(-1))
        return true; // any size at all
    for (; modes && *modes; ++modes)
        if ((*modes)->w == width && (*modes)->h == height)
            return true;
    return false;
}

// What SDL tells of its X11 side: its connection to the X server (info.info.x11.display), the
// window it draws in and the one the window manager looks after (both 0 before the display
// opens). False where SDL does not run on X11.
bool sdlX11(SDL_SysWMinfo& info) {
    SDL_VERSION(&info.version);
    return SDL_GetWMInfo(&info) == 1 && info.subsystem == SDL_SYSWM_X11;
}

} // namespace

bool sdlIsCompat() {
    const SDL_version* linked = SDL_Linked_Version();
    return linked && linked->major == 1 && linked->minor == 2 && linked->patch >= kFirstCompatPatch;
}

VideoDriver chooseVideoDriver(const SessionSigns& signs) {
    if (signs.userDriver && *signs.userDriver)
        return VideoDriver::user;
    if (signs.xDisplay || !signs.waylandDisplay)
        return VideoDriver::x11;
    return signs.sdlSpeaksWayland ? VideoDriver::wayland : VideoDriver::none;
}

bool setVideoDriver() {
    SessionSigns signs;
    signs.userDriver = std::getenv("SDL_VIDEODRIVER");
    signs.xDisplay = isSet("DISPLAY");
    signs.waylandDisplay = isSet("WAYLAND_DISPLAY") || isSet("WAYLAND_SOCKET");
    signs.sdlSpeaksWayland = sdlIsCompat();
    switch (chooseVideoDriver(signs)) {
    case VideoDriver::user:
        return true;
    case VideoDriver::x11:
        // Also without any display: SDL would otherwise fall back to its terminal drivers, which
        // scribble over the terminal before they fail; its X11 driver says in one line that there
        // is no display.
        setenv("SDL_VIDEODRIVER", "x11", 1);
        return true;
    case VideoDriver::wayland:
        setenv("SDL_VIDEODRIVER", "wayland", 1);
        return true;
    case VideoDriver::none:
        break;
    }
    std::fputs(kNeedsXDisplay, stderr);
    return false;
}

FullScreen chooseFullScreen(const DisplayFacts& facts) {
    const bool x11 = std::strcmp(facts.driver, "x11") == 0;
    const bool xWayland = x11 && facts.xWayland;
    const bool pretended = xWayland || std::strcmp(facts.driver, "wayland") == 0;
    if (facts.pictureModeOffered && !pretended)
        return FullScreen::switchMode;
    return xWayland && !facts.sdlIsCompat ? FullScreen::byWindowManager : FullScreen::scaleOnScreen;
}

FullScreenSurface fullScreenSurface(int width, int height) {
    char driver[32] = "";
    DisplayFacts facts;
    if (SDL_VideoDriverName(driver, sizeof driver))
        facts.driver = driver;
    SDL_SysWMinfo x11;
    facts.xWayland = sdlX11(x11) && isXWayland(x11.info.x11.display);
    facts.sdlIsCompat = sdlIsCompat();
    facts.pictureModeOffered = modeOffered(width, height);
    FullScreenSurface surface{chooseFullScreen(facts), width, height};
    const SDL_VideoInfo* screen = SDL_GetVideoInfo();
    if (surface.way != FullScreen::switchMode && screen && screen->current_w > 0 &&
        screen->current_h > 0) {
        surface.width = screen->current_w;
        surface.height = screen->current_h;
    }
    // Under XWayland the window is to fill one monitor: the one that has the pointer.
    int x = 0, y = 0;
    if (facts.xWayland)
        pointerMonitor(x11.info.x11.display, x, y, surface.width, surface.height);
    // SDL 2, under sdl12-compat, leaves a switched screen's window where it would have put a
    // window, for the window manager to move; without one it would show off the screen's corner.
    // SDL 1.2 places its own full-screen window itself, but not the window that the window
    // manager is asked to show full screen. Either shows full screen on the monitor its window
    // starts on. The user's own setting wins.
    const std::string place = std::to_string(x) + "," + std::to_string(y);
    setenv("SDL_VIDEO_WINDOW_POS", place.c_str(), 0);
    return surface;
}

void askForFullScreen() {
    SDL_SysWMinfo x11;
    // SDL 1.2 draws into a child of the window the window manager looks after.
    if (sdlX11(x11))
        requestFullScreen(x11.info.x11.display, x11.info.x11.wmwindow);
}

double windowRefreshHz() {
    SDL_SysWMinfo x11;
    return sdlX11(x11) ? displayRefreshHz(x11.info.x11.display, x11.info.x11.window) : 0;
}
