// The notice box without an X display: the text goes to standard error as one line and the call
// returns at once.
#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

} // namespace
