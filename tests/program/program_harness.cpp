// The test display as the tests look at it: the program's windows found by title or class, their
// pixels read back, and the pointer, keys and buttons driven through the X test extension.
#include "program_harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <time.h>

namespace harness {

namespace {

// Windows come and go while the harness looks at them; a request about one that has just gone
// fails, and the harness then sees no such window instead of ending.
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

// The connection to the test's display, opened once.
Display* display() {
    static Display* connection = [] {
        XSetErrorHandler(ignoreError);
        return XOpenDisplay(nullptr);
    }();
    return connection;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// The window's name in UTF-8: its _NET_WM_NAME where it has one (weston gives no other), else
// its WM_NAME.
std::string titleOf(Window window) {
    static const Atom netName = XInternAtom(display(), "_NET_WM_NAME", False);
    XTextProperty name{};
    std::string title;
    if ((!XGetTextProperty(display(), window, &name, netName) || !name.value) &&
        (!XGetWMName(display(), window, &name) || !name.value))
        return title;
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display(), &name, &list, &count) >= Success && list) {
        if (count > 0 && list[0])
            title = list[0];
        XFreeStringList(list);
    }
    XFree(name.value);
    return title;
}

bool viewable(Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display(), window, &attributes) &&
           attributes.map_state == IsViewable;
}

std::vector<Window> topLevels() {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> windows;
    if (XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &count)) {
        windows.assign(children, children + count);
        XFree(children);
    }
    return windows;
}

// Whether some client holds the keyboard grabbed.
bool keyboardGrabbed() {
    // A grab on an unmapped window never takes effect: it fails with AlreadyGrabbed while
    // another client holds the keyboard and with GrabNotViewable otherwise, so asking takes
    // nothing away from the program.
    static const Window unmapped =
        XCreateSimpleWindow(display(), DefaultRootWindow(display()), 0, 0, 1, 1, 0, 0, 0);
    return XGrabKeyboard(display(), unmapped, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
           AlreadyGrabbed;
}

// Whether some client listens for key presses on the window.
bool takesKeys(Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display(), window, &attributes) &&
           (attributes.all_event_masks & KeyPressMask) != 0;
}

// How long a window must stay before the harness takes it: some SDLs make a window and replace
// it with another while they set the OpenGL mode.
const double kSteadySeconds = 0.5;

// The first viewable top-level window that passes test and is still there, still passing,
// kSteadySeconds (or all of seconds, when less) after it was first seen; waits up to seconds
// for one to appear. 0 if none.
template <typename Test> Window waitFor(double seconds, Test test) {
    const double steady = seconds < kSteadySeconds ? seconds : kSteadySeconds;
    Window candidate = 0;
    double seenSince = 0;
    Window found = 0;
    waitUntil(seconds + steady, [&] {
        bool stayed = false;
        Window first = 0;
        for (Window window : topLevels()) {
            if (!viewable(window) || !test(window))
                continue;
            stayed = stayed || window == candidate;
            first = first == 0 ? window : first;
        }
        // A candidate that went away gives way to the first window that passes now.
        if (!stayed) {
            candidate = first;
            seenSince = now();
        }
        if (candidate != 0 && now() - seenSince >= steady)
            found = candidate;
        return found != 0;
    });
    return found;
}
// The first viewable window of class "velmora" in the tree under window, or 0.
Window programWindowUnder(Display* other, Window window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(other, window, &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(other, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        XClassHint hint{};
        if (XGetClassHint(other, children[i], &hint)) {
            if (hint.res_name && std::strcmp(hint.res_name, "velmora") == 0)
                found = children[i];
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        if (!found)
            found = programWindowUnder(other, children[i]);
    }
    if (children)
        XFree(children);
    return found;
}

WindowPlace placeOf(Display* other, Window window) {
    WindowPlace place;
    XWindowAttributes attributes{};
    Window child = 0;
    if (!window || !XGetWindowAttributes(other, window, &attributes) ||
        !XTranslateCoordinates(other, window, attributes.root, 0, 0, &place.x, &place.y, &child))
        return place;
    place.found = true;
    place.width = attributes.width;
    place.height = attributes.height;
    const Atom mark = XInternAtom(other, "_XWAYLAND_RANDR_EMU_MONITOR_RECTS", True);
    int propertyCount = 0;
    Atom* properties = XListProperties(other, window, &propertyCount);
    for (int i = 0; i < propertyCount && mark != None; ++i)
        place.pretended = place.pretended || properties[i] == mark;
    if (properties)
        XFree(properties);
    return place;
}

} // namespace

WindowPlace findProgramWindowOn(const std::string& displayName, double seconds) {
    static Display* other = nullptr;
    static std::string otherName;
    if (!other || otherName != displayName) {
        other = XOpenDisplay(displayName.c_str());
        otherName = displayName;
    }
    WindowPlace place, seen;
    double seenSince = 0;
    if (!other)
        return place;
    waitUntil(seconds + kSteadySeconds, [&] {
        const WindowPlace now = placeOf(other, programWindowUnder(other, DefaultRootWindow(other)));
        if (!now.found || now.x != seen.x || now.y != seen.y || now.width != seen.width ||
            now.height != seen.height || !seen.found) {
            seen = now;
            seenSince = harness::now();
            return false;
        }
        place = now;
        return harness::now() - seenSince >= kSteadySeconds;
    });
    return place;
}

bool readyForKeys(Window fullScreen, double seconds) {
    return waitUntil(seconds, [fullScreen] { return takesKeys(fullScreen) || keyboardGrabbed(); });
}

bool waitUntil(double seconds, const std::function<bool()>& done) {
    const double deadline = now() + seconds;
    while (!done()) {
        if (now() > deadline)
            return false;
        pause(0.05);
    }
    return true;
}

Window findTitled(const std::string& title, double seconds, Window besides) {
    return waitFor(seconds, [&title, besides](Window window) {
        return window != besides && titleOf(window) == title;
    });
}

Window findFullScreen(double seconds) {
    Screen* screen = DefaultScreenOfDisplay(display());
    return waitFor(seconds, [screen](Window window) {
        // SDL 1.2 keeps an input-only window of the screen's size beside the one that shows.
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display(), window, &attributes) &&
               attributes.c_class == InputOutput && attributes.width == WidthOfScreen(screen) &&
               attributes.height == HeightOfScreen(screen);
    });
}

Window wholeScreen() {
    return DefaultRootWindow(display());
}

int countTitled(const std::string& title) {
    int count = 0;
    for (Window window : topLevels())
        if (viewable(window) && titleOf(window) == title)
            ++count;
    return count;
}

void windowSize(Window window, int& width, int& height) {
    XWindowAttributes attributes{};
    width = height = 0;
    if (XGetWindowAttributes(display(), window, &attributes)) {
        width = attributes.width;
        height = attributes.height;
    }
}

std::vector<Rgb> grab(Window window, int& width, int& height) {
    windowSize(window, width, height);
    std::vector<Rgb> pixels;
    XImage* image = XGetImage(display(), window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            pixels.push_back({static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff),
                              static_cast<int>(p & 0xff)});
        }
    }
    XDestroyImage(image);
    return pixels;
}

void savePng(Window window, const std::string& path) {
    XSync(display(), False);
    const std::string command =
        "import -window " + std::to_string(window) + " " + path + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not save %s\n", path.c_str());
}

void movePointer(Window window, int x, int y) {
    Window child = 0;
    int rootX = 0, rootY = 0;
    XTranslateCoordinates(display(), window, DefaultRootWindow(display()), x, y, &rootX, &rootY,
                          &child);
    XTestFakeMotionEvent(display(), -1, rootX, rootY, CurrentTime);
    XFlush(display());
}

void pressKey(Window window, unsigned long keysym) {
    XSetInputFocus(display(), window, RevertToParent, CurrentTime);
    const KeyCode code = XKeysymToKeycode(display(), keysym);
    XTestFakeKeyEvent(display(), code, True, CurrentTime);
    XTestFakeKeyEvent(display(), code, False, CurrentTime);
    XFlush(display());
}

void holdKey(Window window, unsigned long keysym, bool down) {
    XSetInputFocus(display(), window, RevertToParent, CurrentTime);
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), keysym), down ? True : False,
                      CurrentTime);
    XFlush(display());
}

void pressButton(Window, unsigned button, bool down) {
    XTestFakeButtonEvent(display(), button, down ? True : False, CurrentTime);
    XFlush(display());
}

void closeWindow(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display(), window, False, NoEventMask, &event);
    XFlush(display());
}

void pause(double seconds) {
    if (display())
        XFlush(display());
    timespec t{static_cast<time_t>(seconds),
               static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
    nanosleep(&t, nullptr);
}

} // namespace harness
