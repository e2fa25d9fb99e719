// The notice box on plain Xlib: one top-level window with the wrapped text and a child window
// for the OK button, run by its own event loop on its own display connection, so that nothing of
// it is left once the call returns and the caller opens its own window.
#include "platform/message_box.h"
#include "platform/stop_signals.h"
#include "platform/utf8.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWrapWidth = 440;              // widest text line, pixels
constexpr std::size_t kMaxLines = 24;        // text lines drawn at most; more end in "..."
constexpr std::size_t kMaxDecoded = 1 << 15; // code points looked at; more than the lines hold
constexpr std::size_t kMaxTitle = 256;       // code points of the caption put in the title
constexpr int kMargin = 16;                  // pixels around the text and around the button
constexpr int kMinBoxWidth = 240;            // pixels, so that a short text still gives a box
constexpr int kMinButtonWidth = 80;          // pixels
constexpr int kScreenGap = 40;               // pixels the box keeps free of the screen's edges
constexpr char32_t kReplacement = 0xFFFD;    // stands for malformed bytes and control characters

// Fonts tried in order: the Unicode and the plain Latin-1 "fixed", then whatever there is.
const char* const kFontNames[] = {
    "-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-iso10646-1",
    "fixed",
    "-*-fixed-medium-r-*-*-13-*-*-*-*-*-*-*",
    "*",
};

// The metrics used when the server gives no font information at all, pixels.
constexpr int kFallbackCharWidth = 6;
constexpr int kFallbackAscent = 10;
constexpr int kFallbackDescent = 3;

// Writes text as exactly one line: each line break (LF, CR or CR LF) becomes one space.
void WriteOneLine(const char* text, std::FILE* out) {
    std::string line;
    for (const char* c = text ? text : ""; *c != '\0'; ++c) {
        if (*c == '\r' && c[1] == '\n')
            continue;
        line += (*c == '\n' || *c == '\r') ? ' ' : *c;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

// Decodes at most limit code points of UTF-8; a byte that does not start a well-formed
// sequence becomes kReplacement. Sets truncated when text goes on beyond the limit.
std::u32string DecodeUtf8(const char* text, std::size_t limit, bool& truncated) {
    std::u32string out;
    truncated = false;
    const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*p != 0) {
        if (out.size() == limit) {
            truncated = true;
            break;
        }
        const unsigned char lead = *p;
        int length = 0;
        char32_t cp = 0;
        char32_t smallest = 0;
        if (lead < 0x80) {
            length = 1, cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, smallest = 0x10000;
        }
        bool wellFormed = length > 0;
        for (int i = 1; wellFormed && i < length; ++i) {
            // A zero byte ends the string and also fails this test, so nothing reads past it.
            if ((p[i] & 0xC0) != 0x80)
                wellFormed = false;
            else
                cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (wellFormed && (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            wellFormed = false;
        out += wellFormed ? cp : kReplacement;
        p += wellFormed ? length : 1;
    }
    return out;
}

bool IsControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

// What the box draws: line breaks as '\n', a tab as four spaces, other controls replaced.
std::u32string TextForDrawing(const std::u32string& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t cp = text[i];
        if (cp == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (cp == '\n' || cp == '\r')
            out += U'\n';
        else if (cp == '\t')
            out += U"    ";
        else
            out += IsControl(cp) ? kReplacement : cp;
    }
    return out;
}

// What the title shows: the caption (null means "Error", as on Windows) on one line.
std::u32string TitleText(const char* caption) {
    bool truncated = false;
    std::u32string title = DecodeUtf8(caption ? caption : "Error", kMaxTitle, truncated);
    for (char32_t& cp : title)
        if (IsControl(cp))
            cp = ' ';
    return title;
}

std::string EncodeUtf8(const std::u32string& text) {
    std::string out;
    for (const char32_t cp : text)
        platform::appendUtf8(out, cp);
    return out;
}

// The title as ICCCM's STRING type wants it: Latin-1, '?' for everything else.
std::string EncodeLatin1(const std::u32string& text) {
    std::string out;
    for (const char32_t cp : text)
        out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    return out;
}

// The glyph that draws cp in font (null: the server's default font, taken as Latin-1); '?'
// where the font has no such character.
XChar2b ToGlyph(char32_t cp, const XFontStruct* font) {
    const unsigned row = cp >> 8;
    const unsigned column = cp & 0xFF;
    bool present = cp <= 0xFF;
    if (font != nullptr) {
        if (font->min_byte1 == 0 && font->max_byte1 == 0)
            present = cp <= 0xFF && column >= font->min_char_or_byte2 &&
                      column <= font->max_char_or_byte2;
        else
            present = cp <= 0xFFFF && row >= font->min_byte1 && row <= font->max_byte1 &&
                      column >= font->min_char_or_byte2 && column <= font->max_char_or_byte2;
    }
    if (!present)
        return XChar2b{0, '?'};
    return XChar2b{static_cast<unsigned char>(row), static_cast<unsigned char>(column)};
}

// Width of glyph in font, pixels; at least 1, so that a line always fills up.
int GlyphWidth(XChar2b glyph, XFontStruct* font) {
    const int width = font ? XTextWidth16(font, &glyph, 1) : kFallbackCharWidth;
    return std::max(1, width);
}

using GlyphLine = std::vector<XChar2b>;

int LineWidth(const GlyphLine& line, XFontStruct* font) {
    int width = 0;
    for (const XChar2b& glyph : line)
        width += GlyphWidth(glyph, font);
    return width;
}

bool IsSpace(XChar2b glyph) {
    return glyph.byte1 == 0 && glyph.byte2 == ' ';
}

// Cuts the end of line until "..." fits after it within maxWidth, then appends "...".
void EndWithEllipsis(GlyphLine& line, XFontStruct* font, int maxWidth) {
    const GlyphLine dots(3, XChar2b{0, '.'});
    const int dotsWidth = LineWidth(dots, font);
    while (!line.empty() && LineWidth(line, font) + dotsWidth > maxWidth)
        line.pop_back();
    line.insert(line.end(), dots.begin(), dots.end());
}

// Breaks text into lines no wider than maxWidth: at the last space that fits, or inside a word
// that is wider than a line on its own. At most maxLines (1 or more) lines; the last one ends in
// "..." when text goes on beyond them (or truncated says it was cut before).
std::vector<GlyphLine> WrapText(const std::u32string& text, XFontStruct* font, int maxWidth,
                                std::size_t maxLines, bool truncated) {
    std::vector<GlyphLine> lines;
    GlyphLine current;
    int currentWidth = 0;
    std::size_t lastSpace = 0; // index in current of the last space, plus one; 0 for none
    auto finishLine = [&](GlyphLine next) {
        lines.push_back(std::move(current));
        current = std::move(next);
        currentWidth = LineWidth(current, font);
        lastSpace = 0;
    };
    bool cut = truncated;
    for (const char32_t cp : text) {
        if (lines.size() == maxLines) { // the lines are full and more text follows
            cut = true;
            break;
        }
        if (cp == '\n') {
            finishLine({});
            continue;
        }
        const XChar2b glyph = ToGlyph(cp, font);
        const int width = GlyphWidth(glyph, font);
        if (currentWidth + width > maxWidth && !current.empty()) {
            if (IsSpace(glyph)) { // the space at a break is swallowed
                finishLine({});
                continue;
            }
            if (lastSpace > 0) {
                GlyphLine tail(current.begin() + static_cast<long>(lastSpace), current.end());
                current.resize(lastSpace - 1);
                finishLine(std::move(tail));
            } else {
                finishLine({});
            }
        }
        current.push_back(glyph);
        currentWidth += width;
        if (IsSpace(glyph))
            lastSpace = current.size();
    }
    if (!cut) {
        lines.push_back(std::move(current));
        while (lines.size() > 1 && lines.back().empty()) // a closing line break adds no line
            lines.pop_back();
    }
    if (lines.size() > maxLines) {
        cut = true;
        lines.resize(maxLines);
    }
    if (cut)
        EndWithEllipsis(lines.back(), font, maxWidth);
    return lines;
}

// Everything the open box needs; the platform's own, never seen by the caller.
struct Box {
    Display* display = nullptr;
    Window window = 0;
    Window button = 0;
    GC gc = nullptr;
    XFontStruct* font = nullptr;  // null when the server told nothing about any font
    bool fontLoaded = false;      // font came from XLoadQueryFont (else from XQueryFont)
    int ascent = kFallbackAscent; // pixels above the baseline
    int lineHeight = kFallbackAscent + kFallbackDescent; // pixels from one baseline to the next
    std::vector<GlyphLine> lines;                        // the wrapped text
    GlyphLine label;                                     // "OK"
    int width = 0, height = 0;                           // of the box, pixels
    int buttonX = 0, buttonY = 0, buttonWidth = 0, buttonHeight = 0; // in the box, pixels
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
int IgnoreProtocolError(Display*, XErrorEvent*) {
    return 0;
}

// When the connection breaks, Xlib calls the global handler and then the display's exit handler,
// and by default each of them ends the process. Here both return, and the box counts as closed.
int IgnoreConnectionLoss(Display*) {
    return 0;
}
void NoteConnectionLost(Display*, void* box) {
    static_cast<Box*>(box)->connectionLost = true;
}

unsigned long Colour(Box& box, unsigned short red, unsigned short green, unsigned short blue,
                     unsigned long fallback) {
    XColor colour{};
    colour.red = static_cast<unsigned short>(red * 257);
    colour.green = static_cast<unsigned short>(green * 257);
    colour.blue = static_cast<unsigned short>(blue * 257);
    const Colormap map = DefaultColormap(box.display, DefaultScreen(box.display));
    return XAllocColor(box.display, map, &colour) ? colour.pixel : fallback;
}

void ChooseColours(Box& box) {
    const int screen = DefaultScreen(box.display);
    const unsigned long white = WhitePixel(box.display, screen);
    const unsigned long black = BlackPixel(box.display, screen);
    box.textBackground = white;
    box.foreground = black;
    box.stripBackground = Colour(box, 0xF0, 0xF0, 0xF0, white);
    box.buttonFace = Colour(box, 0xFD, 0xFD, 0xFD, white);
    box.buttonPressedFace = Colour(box, 0xCC, 0xE4, 0xF7, white);
    box.buttonBorder = Colour(box, 0xAD, 0xAD, 0xAD, black);
    box.accent = Colour(box, 0x00, 0x78, 0xD7, black);
}

void LoadFont(Box& box) {
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
void Layout(Box& box, const char* text) {
    const int screen = DefaultScreen(box.display);
    const int screenWidth = DisplayWidth(box.display, screen);
    const int screenHeight = DisplayHeight(box.display, screen);
    for (const char32_t cp : std::u32string(U"OK"))
        box.label.push_back(ToGlyph(cp, box.font));
    box.buttonWidth = std::max(kMinButtonWidth, LineWidth(box.label, box.font) + 2 * kMargin);
    box.buttonHeight = std::max(24, box.lineHeight + 12);

    const int wrapWidth =
        std::max(kMinBoxWidth, std::min(kWrapWidth, screenWidth - kScreenGap - 2 * kMargin));
    const int fixedHeight = 4 * kMargin + box.buttonHeight; // everything but the text lines
    const int roomForLines = (screenHeight - kScreenGap - fixedHeight) / box.lineHeight;
    const std::size_t maxLines =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(roomForLines, 1)), 1, kMaxLines);
    bool truncated = false;
    const std::u32string decoded = DecodeUtf8(text, kMaxDecoded, truncated);
    box.lines = WrapText(TextForDrawing(decoded), box.font, wrapWidth, maxLines, truncated);

    int textWidth = 0;
    for (const GlyphLine& line : box.lines)
        textWidth = std::max(textWidth, LineWidth(line, box.font));
    box.width = std::max({kMinBoxWidth, textWidth + 2 * kMargin, box.buttonWidth + 2 * kMargin});
    const int textHeight = static_cast<int>(box.lines.size()) * box.lineHeight;
    box.height = textHeight + fixedHeight; // margins above and below the text and the button
    box.buttonX = (box.width - box.buttonWidth) / 2;
    box.buttonY = box.height - kMargin - box.buttonHeight;
}

void SetProperties(Box& box, const char* caption) {
    Display* display = box.display;
    const std::u32string title = TitleText(caption);
    const std::string latin1 = EncodeLatin1(title);
    const std::string utf8 = EncodeUtf8(title);
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

void CreateWindows(Box& box) {
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

void DrawText(Box& box) {
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

void DrawButton(Box& box) {
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
    const int labelWidth = LineWidth(box.label, box.font);
    const int x = (box.buttonWidth - labelWidth) / 2 + (sunk ? 1 : 0);
    const int y = (box.buttonHeight - box.lineHeight) / 2 + box.ascent + (sunk ? 1 : 0);
    XDrawString16(display, box.button, box.gc, x, y, box.label.data(),
                  static_cast<int>(box.label.size()));
}

bool ReleasedInsideButton(const Box& box, const XButtonEvent& release) {
    return release.x >= 0 && release.y >= 0 && release.x < box.buttonWidth &&
           release.y < box.buttonHeight;
}

void HandleEvent(Box& box, XEvent& event) {
    switch (event.type) {
    case Expose:
        if (event.xexpose.count == 0) // the last of a run: draw once for all of them
            event.xexpose.window == box.button ? DrawButton(box) : DrawText(box);
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
            DrawButton(box);
        }
        break;
    case ButtonRelease:
        if (event.xbutton.button == Button1 && box.buttonHeld) {
            box.buttonHeld = false;
            box.closed = ReleasedInsideButton(box, event.xbutton);
            DrawButton(box);
        }
        break;
    case EnterNotify:
    case LeaveNotify:
        box.pointerInButton = event.type == EnterNotify;
        DrawButton(box);
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

void RunBox(Box& box, const char* text, const char* caption) {
    LoadFont(box);
    ChooseColours(box);
    Layout(box, text);
    CreateWindows(box);
    SetProperties(box, caption);
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
            HandleEvent(box, event);
        } else if (!box.connectionLost) {
            pollfd waits[] = {{ConnectionNumber(box.display), POLLIN, 0},
                              {stopSignalFd(), POLLIN, 0}};
            poll(waits, 2, -1);
        }
    }
}

void CloseBox(Box& box) {
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
        WriteOneLine(text, stderr);
        return IDOK;
    }
    Box box;
    box.display = display;
    const XErrorHandler previousHandler = XSetErrorHandler(IgnoreProtocolError);
    const XIOErrorHandler previousIoHandler = XSetIOErrorHandler(IgnoreConnectionLoss);
    XSetIOErrorExitHandler(display, NoteConnectionLost, &box);
    RunBox(box, text, caption);
    CloseBox(box);
    XSetIOErrorHandler(previousIoHandler);
    XSetErrorHandler(previousHandler);
    return IDOK;
}
