// Full screen asked of the window manager, as the desktop's window managers agree it is asked: a
// _NET_WM_STATE message to the root window that adds the full-screen state to the window. A
// window manager takes the request only once it has taken the window up, which may be a moment
// after the window shows (weston drops an earlier one), so it is asked again until the window's
// state says full screen, for a second at most.
#include "platform/x11/display_x11.h"
#include "platform/x11/randr_x11.h"

#include <X11/Xatom.h>

#include <ctime>

namespace {

const long kStateAdd = 1;   // _NET_WM_STATE_ADD
const long kNormalApps = 1; // the request comes from an ordinary program
const int kTries = 20;
const long kTryNanoseconds = 50000000; // between two tries

struct StateAtoms {
    Atom state;
    Atom fullScreen;
};

bool showsFullScreen(Display* display, Window window, const StateAtoms& atoms) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, atoms.state, 0, 64, False, XA_ATOM, &type, &format,
                           &count, &after, &data) != Success)
        return false;
    bool found = false;
    if (data && type == XA_ATOM && format == 32) {
        const Atom* states = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count && !found; ++i)
            found = states[i] == atoms.fullScreen;
    }
    if (data)
        XFree(data);
    return found;
}

void sendRequest(Display* display, Window window, const StateAtoms& atoms) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atoms.state;
    event.xclient.format = 32;
    event.xclient.data.l[0] = kStateAdd;
    event.xclient.data.l[1] = static_cast<long>(atoms.fullScreen);
    event.xclient.data.l[3] = kNormalApps;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
}

} // namespace

bool pointerMonitor(void* opaqueDisplay, int& x, int& y, int& width, int& height) {
    Display* display = static_cast<Display*>(opaqueDisplay);
    if (!hasRandR(display, 5))
        return false;
    const Window root = DefaultRootWindow(display);
    Window rootReturn = None, child = None;
    int pointerX = -1, pointerY = -1, windowX = 0, windowY = 0;
    unsigned int buttons = 0;
    XQueryPointer(display, root, &rootReturn, &child, &pointerX, &pointerY, &windowX, &windowY,
                  &buttons);
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    const XRRMonitorInfo* chosen = count > 0 ? &monitors[0] : nullptr;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& m = monitors[i];
        if (pointerX >= m.x && pointerY >= m.y && pointerX < m.x + m.width &&
            pointerY < m.y + m.height) {
            chosen = &m;
            break;
        }
        if (m.primary)
            chosen = &m;
    }
    if (chosen) {
        x = chosen->x;
        y = chosen->y;
        width = chosen->width;
        height = chosen->height;
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    return chosen != nullptr;
}

void requestFullScreen(void* opaqueDisplay, unsigned long window) {
    Display* display = static_cast<Display*>(opaqueDisplay);
    if (!display || !window)
        return;
    const StateAtoms atoms{XInternAtom(display, "_NET_WM_STATE", False),
                           XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False)};
    for (int i = 0; i < kTries && !showsFullScreen(display, window, atoms); ++i) {
        sendRequest(display, window, atoms);
        const timespec pause{0, kTryNanoseconds};
        nanosleep(&pause, nullptr);
    }
}
