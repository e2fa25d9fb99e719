#include "platform/x11/message_box_text_x11.h"
#include "platform/utf8.h"

#include <algorithm>

namespace platform {

namespace {

constexpr int kWrapWidth = 440;              // widest text line, pixels
constexpr std::size_t kMaxLines = 24;        // text lines drawn at most; more end in "..."
constexpr std::size_t kMaxDecoded = 1 << 15; // code points looked at; more than the lines hold
constexpr std::size_t kMaxTitle = 256;       // code points of the caption put in the title
constexpr int kMinBoxWidth = 240;            // pixels, so that a short text still gives a box
constexpr int kMinButtonWidth = 80;          // pixels
constexpr int kScreenGap = 40;               // pixels the box keeps free of the screen's edges
constexpr char32_t kReplacement = 0xFFFD;    // stands for malformed bytes and control characters

// Decodes at most limit code points of UTF-8; a byte that does not start a well-formed
// sequence becomes kReplacement. Sets truncated when text goes on beyond the limit.
std::u32string decodeUtf8(const char* text, std::size_t limit, bool& truncated) {
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

bool isControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

// What the box draws: line breaks as '\n', a tab as four spaces, other controls replaced.
std::u32string textForDrawing(const std::u32string& text) {
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
            out += isControl(cp) ? kReplacement : cp;
    }
    return out;
}

// Width of glyph in font, pixels; at least 1, so that a line always fills up.
int glyphWidth(XChar2b glyph, XFontStruct* font) {
    const int width = font ? XTextWidth16(font, &glyph, 1) : kFallbackCharWidth;
    return std::max(1, width);
}

bool isSpace(XChar2b glyph) {
    return glyph.byte1 == 0 && glyph.byte2 == ' ';
}

// Cuts the end of line until "..." fits after it within maxWidth, then appends "...".
void endWithEllipsis(GlyphLine& line, XFontStruct* font, int maxWidth) {
    const GlyphLine dots(3, XChar2b{0, '.'});
    const int dotsWidth = lineWidth(dots, font);
    while (!line.empty() && lineWidth(line, font) + dotsWidth > maxWidth)
        line.pop_back();
    line.insert(line.end(), dots.begin(), dots.end());
}

} // namespace

void writeOneLine(const char* text, std::FILE* out) {
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

std::u32string titleText(const char* caption) {
    bool truncated = false;
    std::u32string title = decodeUtf8(caption ? caption : "Error", kMaxTitle, truncated);
    for (char32_t& cp : title)
        if (isControl(cp))
            cp = ' ';
    return title;
}

std::string encodeUtf8(const std::u32string& text) {
    std::string out;
    for (const char32_t cp : text)
        appendUtf8(out, cp);
    return out;
}

std::string encodeLatin1(const std::u32string& text) {
    std::string out;
    for (const char32_t cp : text)
        out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    return out;
}

XChar2b toGlyph(char32_t cp, const XFontStruct* font) {
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

int lineWidth(const GlyphLine& line, XFontStruct* font) {
    int width = 0;
    for (const XChar2b& glyph : line)
        width += glyphWidth(glyph, font);
    return width;
}

std::vector<GlyphLine> wrapText(const std::u32string& text, XFontStruct* font, int maxWidth,
                                std::size_t maxLines, bool truncated) {
    std::vector<GlyphLine> lines;
    GlyphLine current;
    int currentWidth = 0;
    std::size_t lastSpace = 0; // index in current of the last space, plus one; 0 for none
    auto finishLine = [&](GlyphLine next) {
        lines.push_back(std::move(current));
        current = std::move(next);
        currentWidth = lineWidth(current, font);
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
        const XChar2b glyph = toGlyph(cp, font);
        const int width = glyphWidth(glyph, font);
        if (currentWidth + width > maxWidth && !current.empty()) {
            if (isSpace(glyph)) { // the space at a break is swallowed
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
        if (isSpace(glyph))
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
        endWithEllipsis(lines.back(), font, maxWidth);
    return lines;
}

BoxLayout layoutBox(const char* text, XFontStruct* font, int lineHeight, int screenWidth,
                    int screenHeight) {
    BoxLayout box;
    for (const char32_t cp : std::u32string(U"OK"))
        box.label.push_back(toGlyph(cp, font));
    box.buttonWidth = std::max(kMinButtonWidth, lineWidth(box.label, font) + 2 * kMargin);
    box.buttonHeight = std::max(24, lineHeight + 12);

    const int wrapWidth =
        std::max(kMinBoxWidth, std::min(kWrapWidth, screenWidth - kScreenGap - 2 * kMargin));
    const int fixedHeight = 4 * kMargin + box.buttonHeight; // everything but the text lines
    const int roomForLines = (screenHeight - kScreenGap - fixedHeight) / lineHeight;
    const std::size_t maxLines =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(roomForLines, 1)), 1, kMaxLines);
    bool truncated = false;
    const std::u32string decoded = decodeUtf8(text, kMaxDecoded, truncated);
    box.lines = wrapText(textForDrawing(decoded), font, wrapWidth, maxLines, truncated);

    int textWidth = 0;
    for (const GlyphLine& line : box.lines)
        textWidth = std::max(textWidth, lineWidth(line, font));
    box.width = std::max({kMinBoxWidth, textWidth + 2 * kMargin, box.buttonWidth + 2 * kMargin});
    const int textHeight = static_cast<int>(box.lines.size()) * lineHeight;
    box.height = textHeight + fixedHeight; // margins above and below the text and the button
    box.buttonX = (box.width - box.buttonWidth) / 2;
    box.buttonY = box.height - kMargin - box.buttonHeight;
    return box;
}

} // namespace platform
