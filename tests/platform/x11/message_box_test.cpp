// The notice box without an X display: the text goes to standard error as one line and the call
// returns at once. Its text is wrapped and measured without a display too.
#include "platform/message_box.h"

#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros (None, Bool) would clash with.
#include "platform/x11/message_box_text_x11.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

namespace {

struct Captured {
    int result = 0;         // what MessageBoxA returned
    std::string stderrText; // everything it wrote on standard error
};

// Calls MessageBoxA with standard error sent to a temporary file, and returns what it wrote.
Captured CallWithStderrCaptured(const char* text, const char* caption = "Error") {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr) << "a temporary file for standard error";
    Captured captured;
    if (file == nullptr)
        return captured;
    std::fflush(stderr);
    const int savedStderr = dup(STDERR_FILENO);
    dup2(fileno(file), STDERR_FILENO);
    captured.result = MessageBoxA(nullptr, text, caption, MB_OK);
    std::fflush(stderr);
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    std::rewind(file);
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        captured.stderrText.append(buffer, count);
    std::fclose(file);
    return captured;
}

struct OneLineCase {
    const char* name;
    const char* text;
    const char* expectedLine; // without its closing line break
};

class NoDisplayLine : public ::testing::TestWithParam<OneLineCase> {};

TEST_P(NoDisplayLine, WritesTheTextAsOneLineOnStandardErrorAndReturnsIdok) {
    ASSERT_EQ(std::getenv("DISPLAY") == nullptr ? "" : std::string(std::getenv("DISPLAY")), "")
        << "this test must run without an X display";
    const OneLineCase& c = GetParam();
    const Captured captured = CallWithStderrCaptured(c.text);
    EXPECT_EQ(captured.result, IDOK);
    EXPECT_EQ(captured.stderrText, std::string(c.expectedLine) + "\n")
        << "exactly one line, the text with its line breaks turned into spaces";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NoDisplayLine,
    ::testing::Values(
        OneLineCase{"TheProgramsNotice",
                    "First parameter was not either lowercase 'fullscreen' or 'window' (no "
                    "quotes), ignored.",
                    "First parameter was not either lowercase 'fullscreen' or 'window' (no "
                    "quotes), ignored."},
        OneLineCase{"LineFeeds", "one\ntwo\n\nthree", "one two  three"},
        OneLineCase{"CarriageReturns", "one\r\ntwo\rthree", "one two three"},
        OneLineCase{"ClosingLineBreak", "done\n", "done "}, OneLineCase{"Empty", "", ""},
        OneLineCase{"NullText", nullptr, ""},
        OneLineCase{"OtherBytesPassThrough", "caf\xC3\xA9 \xFF\xFE tab\there",
                    "caf\xC3\xA9 \xFF\xFE tab\there"}),
    [](const ::testing::TestParamInfo<OneLineCase>& info) { return info.param.name; });

TEST(NoDisplay, AHundredKilobyteTextStaysOneLine) {
    std::string text;
    for (int i = 0; i < 100 * 1024; ++i)
        text += (i % 80 == 79) ? '\n' : static_cast<char>('a' + i % 26);
    std::string expected = text;
    for (char& c : expected)
        if (c == '\n')
            c = ' ';
    const Captured captured = CallWithStderrCaptured(text.c_str());
    EXPECT_EQ(captured.result, IDOK);
    EXPECT_EQ(captured.stderrText, expected + "\n");
}

TEST(NoDisplay, TheCaptionIsNotWritten) {
    const Captured captured = CallWithStderrCaptured("the text", "Some Caption");
    EXPECT_EQ(captured.stderrText, "the text\n") << "only the text makes the line";
}

// A DISPLAY that names no running server is the same as none at all.
TEST(NoDisplay, ADisplayWithNoServerBehindItWritesTheLine) {
    ASSERT_EQ(setenv("DISPLAY", ":4711", 1), 0);
    const Captured captured = CallWithStderrCaptured("no server\nhere");
    unsetenv("DISPLAY");
    EXPECT_EQ(captured.result, IDOK);
    EXPECT_EQ(captured.stderrText, "no server here\n");
}

TEST(NoDisplay, AnUnsetDisplayWritesTheLine) {
    unsetenv("DISPLAY");
    const Captured captured = CallWithStderrCaptured("unset");
    EXPECT_EQ(captured.result, IDOK);
    EXPECT_EQ(captured.stderrText, "unset\n");
}

// The wrapped lines as one string, lines joined by '|', glyphs back in UTF-8.
std::string joined(const std::vector<platform::GlyphLine>& lines) {
    std::u32string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += i > 0 ? U"|" : U"";
        for (const XChar2b& glyph : lines[i])
            text += static_cast<char32_t>(glyph.byte1 << 8 | glyph.byte2);
    }
    return platform::encodeUtf8(text);
}

struct WrapCase {
    const char* name;
    const char32_t* text;
    std::size_t maxLines;
    const char* expected; // lines joined by '|'
};

class Wrap : public ::testing::TestWithParam<WrapCase> {};

// Without a font every glyph is 6 pixels wide: ten of them fill a 60-pixel line.
TEST_P(Wrap, BreaksTheTextIntoLinesOfTheWidth) {
    const WrapCase& c = GetParam();
    EXPECT_EQ(joined(platform::wrapText(c.text, nullptr, 60, c.maxLines, false)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Wrap,
    ::testing::Values(
        WrapCase{"AtTheLastSpaceThatFits", U"aaaa bbbb cccc", 5, "aaaa bbbb|cccc"},
        WrapCase{"InsideAWordWiderThanALine", U"abcdefghijklmno", 5, "abcdefghij|klmno"},
        WrapCase{"SwallowingTheSpaceAtABreak", U"aaaaaaaaaa bbb", 5, "aaaaaaaaaa|bbb"},
        WrapCase{"AtLineBreaksButNotAClosingOne", U"one\n\ntwo\n", 5, "one||two"},
        WrapCase{"EndingInDotsBeyondTheLastLine", U"a\nb\nc", 2, "a|b..."},
        WrapCase{"CuttingTheLastLineForTheDots", U"aaaaaaaaaa bbb", 1, "aaaaaaa..."}),
    [](const ::testing::TestParamInfo<WrapCase>& info) { return info.param.name; });

TEST(BoxLayout, MalformedBytesAndControlsAreDrawnAsMarks) {
    const platform::BoxLayout box =
        platform::layoutBox("caf\xC3\xA9 \xFF\x01\ttab\r\nend", nullptr, 13, 1024, 768);
    EXPECT_EQ(joined(box.lines), "caf\xC3\xA9 ??    tab|end")
        << "U+FFFD, which the default font lacks, as '?'; a tab as four spaces";
}

TEST(BoxLayout, ALongTextWrapsIntoATallerBoxOfTheSameWidthLimit) {
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "word" + std::to_string(i) + " ";
    text += std::string(300, 'x'); // one word longer than a line
    const platform::BoxLayout box = platform::layoutBox(text.c_str(), nullptr, 13, 1024, 768);
    EXPECT_LE(box.width, 520) << "lines are broken, not widened";
    EXPECT_GE(box.height, 150) << "the text takes several lines";
}

// Random bytes (no zero, which ends the string): invalid UTF-8, control bytes, no line breaks
// where a wrap would like them, 100 kB of it, on a small screen.
TEST(BoxLayout, AHugeBinaryTextGivesABoxWithinTheScreen) {
    std::mt19937 random(2024);
    std::string text(100 * 1024, ' ');
    for (char& c : text)
        c = static_cast<char>(1 + random() % 255);
    const platform::BoxLayout box = platform::layoutBox(text.c_str(), nullptr, 13, 320, 240);
    EXPECT_LE(box.width, 320);
    EXPECT_LE(box.height, 240) << "the lines are capped so that OK stays on the screen";
    EXPECT_LE(box.buttonY + box.buttonHeight, box.height) << "OK inside the box";
    ASSERT_FALSE(box.lines.empty());
    const std::string last = joined({box.lines.back()});
    ASSERT_GE(last.size(), 3u);
    EXPECT_EQ(last.substr(last.size() - 3), "...") << "the cut text ends in dots";
}

} // namespace
