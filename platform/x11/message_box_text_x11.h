// The notice box's text without a display: any bytes decoded, made drawable, wrapped into glyph
// lines and measured into the box's size, and the one line written when there is no display.
// Widths come from the font's own metrics (client-side) or, without a font, a fixed width.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

constexpr int kMargin = 16;           // pixels around the text and around the button
constexpr int kFallbackCharWidth = 6; // glyph width without font information, pixels
constexpr int kFallbackAscent = 10;   // pixels above the baseline without font information
constexpr int kFallbackDescent = 3;   // pixels below the baseline without font information

using GlyphLine = std::vector<XChar2b>;

// Writes text (null: nothing) as exactly one line: each line break (LF, CR or CR LF) becomes
// one space. For the box's stand-in without a display.
void writeOneLine(const char* text, std::FILE* out);

// What the title shows: the caption (null means "Error", as on Windows) on one line, at most
// 256 code points, malformed bytes as U+FFFD.
std::u32string titleText(const char* caption);
std::string encodeUtf8(const std::u32string& text);
// The title as ICCCM's STRING type wants it: Latin-1, '?' for everything else.
std::string encodeLatin1(const std::u32string& text);

// The glyph that draws cp in font (null: the server's default font, taken as Latin-1); '?'
// where the font has no such character.
XChar2b toGlyph(char32_t cp, const XFontStruct* font);
// Width of a line in font (null: kFallbackCharWidth a glyph), pixels.
int lineWidth(const GlyphLine& line, XFontStruct* font);

// Breaks text into lines no wider than maxWidth: at the last space that fits, or inside a word
// that is wider than a line on its own. At most maxLines (1 or more) lines; the last one ends in
// "..." when text goes on beyond them (or truncated says it was cut before).
std::vector<GlyphLine> wrapText(const std::u32string& text, XFontStruct* font, int maxWidth,
                                std::size_t maxLines, bool truncated);

// The box's contents and size for a text, in pixels.
struct BoxLayout {
    std::vector<GlyphLine> lines;                                    // the wrapped text
    GlyphLine label;                                                 // "OK"
    int width = 0, height = 0;                                       // of the box
    int buttonX = 0, buttonY = 0, buttonWidth = 0, buttonHeight = 0; // in the box
};

// Decodes and wraps text (any bytes, or null) for font with lines lineHeight pixels apart, and
// sizes the box and its button to it, within a screen of the given size in pixels.
BoxLayout layoutBox(const char* text, XFontStruct* font, int lineHeight, int screenWidth,
                    int screenHeight);

} // namespace platform
