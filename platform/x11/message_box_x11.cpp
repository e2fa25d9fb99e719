// The notice box on plain Xlib: one top-level window with the wrapped text and a child window
// for the OK button, run by its own event loop on its own display connection, so that nothing of
// it is left once the call returns and the caller opens its own window.
#include "platform/message_box.h"
#include "platform/stop_signals.h"
#include "platform/x11/message_box_text_x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <poll.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace platform;

// Fonts tried in order: the Unicode and the plain Latin-1 "fixed", then whatever there is.
const char* const kFontNames[] = {
    "-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-iso10646-1",
    "fixed",
    "-*-fixed-medium-r-*-*-13-*-*-*-*-*-*-*",
    "*",
};

// Everything the open box needs; the platform's own, never seen by the caller.
struct Box : BoxLayout {
    Display* display = nullptr;
    Window window = 0;
    Window button = 0;
    GC gc = nullptr;
    XFontStruct* font = nullptr;  // null when the server told nothing about any font
    bool fontLoaded = false;      // font came from XLoadQueryFont (else from XQueryFont)
    int ascent = kFallbackAscent; // pixels above the baseline
    int lineHeight = kFallbackAscent + kFallbackDescent; // pixels from one baseline to the next
    unsigned long textBackground = 0, stripBackground = 0, foreground = 0;
    unsigned long buttonFace = 0, buttonPressedFace = 0, buttonBorder = 0, accent = 0;
    bool buttonHeld = false; // button 1 went down on OK and is not released yet
    bool pointerInButton = false;
    bool closed = false;         // the user closed the box
    bool connectionLost = false; // the X server went away
    Atom wmProtocols = 0, wmDeleteWindow = 0;
};

// Protocol errors (a focus request the window manager got in before, a window destroyed by
// someone else) must not end the process, as Xlib's default handler would.
int ignoreProtocolError(Display*, XErrorEvent*) {
    return 0;
}

// When the connection breaks, Xlib calls the global handler and then the display's exit handler,
// and by default each of them ends the process. Here both return, and the box counts as closed.
int ignoreConnectionLoss(Display*) {
    return 0;
}
void noteConnectionLost(Display*, void* box) {
    static_cast<Box*>(box)->connectionLost = true;
}

unsigned long allocColour(Box& box, unsigned short red, unsigned short green, unsigned short blue,
                          unsigned long fallback) {
    XColor colour{};
    colour.red = static_cast<unsigned short>(red * 257);
    colour.green = static_cast<unsigned short>(green * 257);
    colour.blue = static_cast<unsigned short>(blue * 257);
    const Colormap map = DefaultColormap(box.display, DefaultScreen(box.display));
    return XAllocColor(box.display, map, &colour) ? colour.pixel : fallback;
}

void chooseColours(Box& box) {
    const int screen = DefaultScreen(box.display);
    const unsigned long white = WhitePixel(box.display, screen);
    const unsigned long black = BlackPixel(box.display, screen);
    box.textBackground = white;
    box.foreground = black;
    box.stripBackground = allocColour(box, 0xF0, 0xF0, 0xF0, white);
    box.buttonFace = allocColour(box, 0xFD, 0xFD, 0xFD, white);
    box.buttonPressedFace = allocColour(box, 0xCC, 0xE4, 0xF7, white);
    box.buttonBorder = allocColour(box, 0xAD, 0xAD, 0xAD, black);
    box.accent = allocColour(box, 0x00, 0x78, 0xD7, black);
}

void loadFont(Box& box) {
    for (const char* name : kFontNames) {
        box.font = XLoadQueryFont(box.display, name);
        if (box.font != nullptr) {
            box.fontLoaded = true;
            break;
        }
    }
    if (box.font == nullptr) // the metrics of the font every GC starts with
        box.font = XQueryFont(box.display,
                              XGContextFromGC(DefaultGC(box.display, DefaultScreen(box.display))));
    if (box.font != nullptr) {
        box.ascent = box.font->ascent;
        box.lineHeight = std::max(1, box.font->ascent + box.font->descent);
    }
}

// Wraps the text and sizes the box and its button to it, within the screen.
void layout(Box& box, const char* text) {
    const int screen = DefaultScreen(box.display);
    static_cast<BoxLayout&>(box) =
        layoutBox(text, box.font, box.lineHeight, DisplayWidth(box.display, screen),
                  DisplayHeight(box.display, screen));
}

void setProperties(Box& box, const char* caption) {
    Display* display = box.display;
    const std::u32string title = titleText(caption);
    const std::string latin1 = encodeLatin1(title);
    const std::string utf8 = encodeUtf8(title);
    const auto* latin1Bytes = reinterpret_cast<const unsigned char*>(latin1.data());
    const auto* utf8Bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, box.window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, latin1Bytes,
                    static_cast<int>(latin1.size()));
    XChangeProperty(display, box.window, XA_WM_ICON_NAME, XA_STRING, 8, PropModeReplace,
                    latin1Bytes, static_cast<int>(latin1.size()));
    XChangeProperty(display, box.window, XInternAtom(display, "_NET_WM_NAME", False), utf8String, 8,
                    PropModeReplace, utf8Bytes, static_cast<int>(utf8.size()));

    char name[] = "velmora";
    char className[] = "Velmora";
    XClassHint classHint{name, className};
    XSetClassHint(display, box.window, &classHint);

    XSizeHints sizeHints{};
    sizeHints.flags = PPosition | PSize | PMinSize | PMaxSize;
    sizeHints.width = sizeHints.min_width = sizeHints.max_width = box.width;
    sizeHints.height = sizeHints.min_height = sizeHints.max_height = box.height;
    XSetWMNormalHints(display, box.window, &sizeHints);

    XWMHints wmHints{};
    wmHints.flags = InputHint | StateHint;
    wmHints.input = True;
    wmHints.initial_state = NormalState;
    XSetWMHints(display, box.window, &wmHints);

    const Atom dialogType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, box.window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False),
                    XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dialogType), 1);

    box.wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    box.wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, box.window, &box.wmDeleteWindow, 1);
}

void createWindows(Box& box) {
    Display* display = box.display;
    const int screen = DefaultScreen(display);
    const int x = std::max(0, (DisplayWidth(display, screen) - box.width) / 2);
    const int y = std::max(0, (DisplayHeight(display, screen) - box.height) / 2);
    box.window = XCreateSimpleWindow(
        display, RootWindow(display, screen), x, y, static_cast<unsigned>(box.width),
        static_cast<unsigned>(box.height), 1, box.buttonBorder, box.textBackground);
    XSelectInput(display, box.window, ExposureMask | KeyPressMask | StructureNotifyMask);
    box.button = XCreateSimpleWindow(
        display, box.window, box.buttonX, box.buttonY, static_cast<unsigned>(box.buttonWidth),
        static_cast<unsigned>(box.buttonHeight), 0, box.buttonBorder, box.buttonFace);
    XSelectInput(display, box.button,
                 ExposureMask | ButtonPressMask | ButtonReleaseMask | EnterWindowMask |
                     LeaveWindowMask);
    box.gc = XCreateGC(display, box.window, 0, nullptr);
    if (box.fontLoaded)
        XSetFont(display, box.gc, box.font->fid);
}

void drawText(Box& box) {
    Display* display = box.display;
    const int stripTop = box.buttonY - kMargin;
    XSetForeground(display, box.gc, box.stripBackground);
    XFillRectangle(display, box.window, box.gc, 0, stripTop, static_cast<unsigned>(box.width),
                   static_cast<unsigned>(box.height - stripTop));
    XSetForeground(display, box.gc, box.foreground);
    for (std::size_t i = 0; i < box.lines.size(); ++i) {
        GlyphLine& line = box.lines[i];
        if (line.empty())
            continue;
        const int baseline = kMargin + box.ascent + static_cast<int>(i) * box.lineHeight;
        XDrawString16(display, box.window, box.gc, kMargin, baseline, line.data(),
                      static_cast<int>(line.size()));
    }
}

void drawButton(Box& box) {
    Display* display = box.display;
    const bool sunk = box.buttonHeld && box.pointerInButton;
    const auto width = static_cast<unsigned>(box.buttonWidth);
    const auto height = static_cast<unsigned>(box.buttonHeight);
    XSetForeground(display, box.gc, sunk ? box.buttonPressedFace : box.buttonFace);
    XFillRectangle(display, box.button, box.gc, 0, 0, width, height);
    // The accent frame marks OK as the default button, the one Return presses.
    XSetForeground(display, box.gc, box.accent);
    XDrawRectangle(display, box.button, box.gc, 0, 0, width - 1, height - 1);
    XSetForeground(display, box.gc, sunk ? box.accent : box.buttonBorder);
    XDrawRectangle(display, box.button, box.gc, 1, 1, width - 3, height - 3);
    XSetForeground(display, box.gc, box.foreground);
    const int labelWidth = lineWidth(box.label, box.font);
    const int x = (box.buttonWidth - labelWidth) / 2 + (sunk ? 1 : 0);
    const int y = (box.buttonHeight - box.lineHeight) / 2 + box.ascent + (sunk ? 1 : 0);
    XDrawString16(display, box.button, box.gc, x, y, box.label.data(),
                  static_cast<int>(box.label.size()));
}

bool releasedInsideButton(const Box& box, const XButtonEvent& release) {
    return release.x >= 0 && release.y >= 0 && release.x < box.buttonWidth &&
           release.y < box.buttonHeight;
}

void handleEvent(Box& box, XEvent& event) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0) // the last of a run: draw once for all of them
            event.xexpose.window == box.button ? drawButton(box) : drawText(box);
        break;
    case MapNotify:
        if (event.xmap.window == box.window) // focus only a viewable window, so that Return works
            XSetInputFocus(box.display, box.window, RevertToParent, CurrentTime);
        break;
    case KeyPress: {
        const KeySym key = XLookupKeysym(&event.xkey, 0);
        if (key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space)
            box.closed = true;
        break;
    }
    case ButtonPress:
        if (event.xbutton.button == Button1) {
            box.buttonHeld = box.pointerInButton = true;
            drawButton(box);
        }
        break;
    case ButtonRelease:
        if (event.xbutton.button == Button1 && box.buttonHeld) {
            box.buttonHeld = false;
            box.closed = releasedInsideButton(box, event.xbutton);
            drawButton(box);
        }
        break;
    case EnterNotify:
    case LeaveNotify:
        box.pointerInButton = event.type == EnterNotify;
        drawButton(box);
        break;
    case ClientMessage:
        if (event.xclient.message_type == box.wmProtocols && event.xclient.format == 32 &&
            static_cast<Atom>(event.xclient.data.l[0]) == box.wmDeleteWindow)
            box.closed = true;
        break;
    case DestroyNotify: // someone else destroyed the box: nothing left to wait for
        if (event.xdestroywindow.window == box.window) {
            box.window = box.button = 0;
            box.closed = true;
        }
        break;
    default:
        break;
    }
}

void runBox(Box& box, const char* text, const char* caption) {
    loadFont(box);
    chooseColours(box);
    layout(box, text);
    createWindows(box);
    setProperties(box, caption);
    XMapWindow(box.display, box.button);
    XMapWindow(box.display, box.window);
    // SIGINT or SIGTERM closes the box as the user would, and the caller then sees the request.
    while (!box.closed && !box.connectionLost && !stopRequested()) {
        // XNextEvent would crash on a broken connection once the handlers return, so it is only
        // called for an event already queued; the waiting is done here, on the server's
        // connection and on the stop request (poll skips a descriptor of -1).
        if (XPending(box.display) > 0) {
            XEvent event;
            XNextEvent(box.display, &event);
            handleEvent(box, event);
        } else if (!box.connectionLost) {
            pollfd waits[] = {{ConnectionNumber(box.display), POLLIN, 0},
                              {stopSignalFd(), POLLIN, 0}};
            poll(waits, 2, -1);
        }
    }
}

void closeBox(Box& box) {
    if (!box.connectionLost) {
        if (box.window != 0)
            XDestroyWindow(box.display, box.window);
        if (box.gc != nullptr)
            XFreeGC(box.display, box.gc);
        XSync(box.display, False); // the window is gone from the screen before the call returns
    }
    if (box.font != nullptr && box.fontLoaded && !box.connectionLost)
        XFreeFont(box.display, box.font);
    else if (box.font != nullptr) // client-side memory only
        XFreeFontInfo(nullptr, box.font, 1);
    XCloseDisplay(box.display);
}

} // namespace

int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR caption, UINT /*type*/) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        writeOneLine(text, stderr);
        return IDOK;
    }
    Box box;
    box.display = display;
    const XErrorHandler previousHandler = XSetErrorHandler(ignoreProtocolError);
    const XIOErrorHandler previousIoHandler = XSetIOErrorHandler(ignoreConnectionLoss);
    XSetIOErrorExitHandler(display, noteConnectionLost, &box);
    runBox(box, text, caption);
    closeBox(box);
    XSetIOErrorHandler(previousIoHandler);
    XSetErrorHandler(previousHandler);
    return IDOK;
}