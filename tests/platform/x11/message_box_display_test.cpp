// The notice box on a real (Xvfb) display: each box runs in a child process, and the test finds
// its window, looks at it and closes it the way a user would, through XTest or, for the window
// manager's close button, with the WM_DELETE_WINDOW message a window manager sends.
#include "platform/message_box.h"

// GoogleTest before Xlib, whose macros (None, Bool) would clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10); // longest wait for anything the box does

const char* const kNotice =
    "First parameter was not either lowercase 'fullscreen' or 'window' (no quotes), ignored.";

// Waits, within kPatience, until done() holds; returns whether it did.
bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kPatience;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int CountOpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (dir != nullptr && readdir(dir) != nullptr)
        ++count;
    if (dir != nullptr)
        closedir(dir);
    return count;
}

// What the child reports once MessageBoxA has returned.
struct BoxReport {
    int result = 0;            // MessageBoxA's value
    int descriptorsBefore = 0; // open file descriptors before the call
    int descriptorsAfter = 0;  // and after it: the display connection must be closed
};

// One MessageBoxA call in a child process. After the call the child reports and then waits
// until Release(), so that the test can look at the screen while the caller would go on.
class BoxProcess {
  public:
    BoxProcess(const char* text, const char* caption, const char* display = nullptr) {
        int report[2];
        int release[2];
        if (pipe(report) != 0 || pipe(release) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(report[0]);
            close(release[1]);
            if (display != nullptr)
                setenv("DISPLAY", display, 1);
            BoxReport r;
            r.descriptorsBefore = CountOpenDescriptors();
            r.result = MessageBoxA(nullptr, text, caption, MB_OK);
            r.descriptorsAfter = CountOpenDescriptors();
            if (write(report[1], &r, sizeof r) != sizeof r)
                _exit(3);
            char byte;
            while (read(release[0], &byte, 1) > 0) {
            }
            _exit(0);
        }
        close(report[1]);
        close(release[0]);
        reportFd_ = report[0];
        releaseFd_ = release[1];
    }

    ~BoxProcess() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (reportFd_ >= 0)
            close(reportFd_);
        if (releaseFd_ >= 0)
            close(releaseFd_);
    }

    bool Started() const { return pid_ > 0; }

    // Waits within kPatience for MessageBoxA to return; false if it did not (or the child died).
    bool WaitForReport(BoxReport& report) {
        pollfd p{reportFd_, POLLIN, 0};
        const int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(kPatience).count());
        if (poll(&p, 1, ms) != 1)
            return false;
        return read(reportFd_, &report, sizeof report) == sizeof report;
    }

    // Lets the child end and returns its wait status; a child that does not end is killed.
    int Release() {
        close(releaseFd_);
        releaseFd_ = -1;
        int status = -1;
        const bool ended = WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        reaped_ = true;
        return status;
    }

    // How the child ended when it did not report (a crash, or Xlib's exit); a child that is still
    // running is killed.
    std::string DeathNote() {
        if (reaped_)
            return "the child has ended";
        int status = 0;
        if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            reaped_ = true;
            return "the child was still running";
        }
        reaped_ = true;
        if (WIFSIGNALED(status))
            return "the child died of signal " + std::to_string(WTERMSIG(status));
        return "the child exited with status " + std::to_string(WEXITSTATUS(status));
    }

  private:
    pid_t pid_ = -1;
    int reportFd_ = -1;
    int releaseFd_ = -1;
    bool reaped_ = false;
};

std::string WindowName(Display* display, Window window) {
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) && name != nullptr)
        result = name;
    if (name != nullptr)
        XFree(name);
    return result;
}

std::string StringProperty(Display* display, Window window, const char* property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string result;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 1 << 16,
                           False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 8)
        result.assign(reinterpret_cast<char*>(data), count);
    if (data != nullptr)
        XFree(data);
    return result;
}

// The top-level window titled caption (by WM_NAME or _NET_WM_NAME), or 0.
Window FindBox(Display* display, const std::string& caption) {
    XSync(display, False);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && found == 0; ++i)
        if (WindowName(display, children[i]) == caption ||
            StringProperty(display, children[i], "_NET_WM_NAME") == caption)
            found = children[i];
    if (children != nullptr)
        XFree(children);
    return found;
}

bool Viewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

// Counts the dark pixels (every channel below half) of a window's area.
int DarkPixels(Display* display, Window window, int x, int y, int width, int height) {
    XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return 0;
    int dark = 0;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            const bool darkRed = (pixel & image->red_mask) < (image->red_mask / 2);
            const bool darkGreen = (pixel & image->green_mask) < (image->green_mask / 2);
            const bool darkBlue = (pixel & image->blue_mask) < (image->blue_mask / 2);
            dark += darkRed && darkGreen && darkBlue;
        }
    XDestroyImage(image);
    return dark;
}

unsigned long PixelAt(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return ~0ul;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0; // x and y relative to the root window
};

Geometry GeometryOf(Display* display, Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    Geometry g{0, 0, attributes.width, attributes.height};
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &g.x, &g.y, &child);
    return g;
}

// The box's only child window: the OK button.
Window ButtonOf(Display* display, Window box) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window button = 0;
    if (XQueryTree(display, box, &root, &parent, &children, &count) && count == 1)
        button = children[0];
    if (children != nullptr)
        XFree(children);
    return button;
}

// A window the test looks at may vanish under it (the box closing too early): that must fail a
// check, not end the test program as Xlib's default handler would.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// Checks what the child reported once MessageBoxA returned: IDOK, with its display connection
// closed; then lets the child end and checks that it ends normally.
void ExpectIdokAndCleanEnd(BoxProcess& process, const BoxReport& report) {
    EXPECT_EQ(report.result, IDOK);
    EXPECT_EQ(report.descriptorsAfter, report.descriptorsBefore)
        << "the box's display connection is closed when the call returns";
    const int status = process.Release();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

class MessageBoxOnDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        XSetErrorHandler(IgnoreXError);
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr) << "the test runs on its own Xvfb; DISPLAY must name it";
        int event = 0, error = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(display_, &event, &error, &major, &minor))
            << "XTest drives the box as a user would";
    }

    void TearDown() override {
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }

    // Waits until the box titled caption is viewable, has drawn its text (unless it has none)
    // and holds the keyboard focus; returns it (0 when it does not appear in time).
    Window WaitForBox(const std::string& caption = "Error", bool withText = true) {
        Window box = 0;
        const bool shown = WaitUntil([&] {
            box = FindBox(display_, caption);
            return box != 0 && Viewable(display_, box);
        });
        EXPECT_TRUE(shown) << "a viewable top-level window titled \"" << caption << "\"";
        if (!shown)
            return 0;
        const Geometry g = GeometryOf(display_, box);
        if (withText) {
            EXPECT_TRUE(WaitUntil([&] {
                return DarkPixels(display_, box, 0, 0, g.width, 40) > 20;
            })) << "the text is drawn in the top part of the box";
        }
        EXPECT_TRUE(WaitUntil([&] {
            Window focus = 0;
            int revert = 0;
            XGetInputFocus(display_, &focus, &revert);
            return focus == box;
        })) << "the box takes the keyboard focus, so that Return reaches it";
        return box;
    }

    void PressKey(KeySym key) {
        const KeyCode code = XKeysymToKeycode(display_, key);
        ASSERT_NE(code, 0) << "the Xvfb keymap has keysym " << key;
        XTestFakeKeyEvent(display_, code, True, 0);
        XTestFakeKeyEvent(display_, code, False, 0);
        XFlush(display_);
    }

    void MovePointer(int x, int y) {
        XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, 0);
        XFlush(display_);
    }

    void PressButton(bool down) {
        XTestFakeButtonEvent(display_, 1, down ? True : False, 0);
        XFlush(display_);
    }

    Geometry ButtonGeometry(Window box) {
        const Window button = ButtonOf(display_, box);
        EXPECT_NE(button, 0u) << "the OK button is the box's one child window";
        return GeometryOf(display_, button);
    }

    void SendCloseRequest(Window box) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = box;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, box, False, NoEventMask, &event);
        XFlush(display_);
    }

    // Starts MessageBoxA(text, caption) in a child process and waits for its box as WaitForBox
    // does; returns it, or 0 when it does not come.
    Window ShowBox(const char* text, const char* caption = "Error", bool withText = true) {
        process_ = std::make_unique<BoxProcess>(text, caption);
        EXPECT_TRUE(process_->Started()) << "a child process for the box";
        if (!process_->Started())
            return 0;
        const Window box = WaitForBox(caption != nullptr ? caption : "Error", withText);
        if (box == 0)
            ADD_FAILURE() << process_->DeathNote();
        return box;
    }

    // After the box was closed: the call returns, its window is gone by then, and the report is
    // as ExpectIdokAndCleanEnd wants it.
    void ExpectClosedCleanly(const std::string& caption = "Error") {
        BoxReport report;
        ASSERT_TRUE(process_->WaitForReport(report))
            << "MessageBoxA returns once the box is closed (" << process_->DeathNote() << ")";
        EXPECT_EQ(FindBox(display_, caption), 0u) << "the box window is gone when the call returns";
        ExpectIdokAndCleanEnd(*process_, report);
    }

    Display* display_ = nullptr;
    std::unique_ptr<BoxProcess> process_; // the box of the running test
};

struct KeyCase {
    const char* name;
    KeySym key;
};

class ClosedByKey : public MessageBoxOnDisplay, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(ClosedByKey, TheKeyClosesTheBoxAndTheCallReturnsIdok) {
    ASSERT_NE(ShowBox(kNotice), 0u);
    PressKey(GetParam().key);
    ExpectClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ClosedByKey,
    ::testing::Values(KeyCase{"Return", XK_Return}, KeyCase{"KeypadEnter", XK_KP_Enter},
                      KeyCase{"Escape", XK_Escape}, KeyCase{"Space", XK_space}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

TEST_F(MessageBoxOnDisplay, ClickingOkClosesTheBox) {
    const Window box = ShowBox(kNotice);
    ASSERT_NE(box, 0u);
    const Geometry ok = ButtonGeometry(box);
    MovePointer(ok.x + ok.width / 2, ok.y + ok.height / 2);
    PressButton(true);
    PressButton(false);
    ExpectClosedCleanly();
}

TEST_F(MessageBoxOnDisplay, TheWindowManagersCloseRequestClosesTheBox) {
    const Window box = ShowBox(kNotice);
    ASSERT_NE(box, 0u);
    Atom* protocols = nullptr;
    int count = 0;
    bool takesDelete = false;
    if (XGetWMProtocols(display_, box, &protocols, &count)) {
        for (int i = 0; i < count; ++i)
            takesDelete |= protocols[i] == XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XFree(protocols);
    }
    EXPECT_TRUE(takesDelete) << "WM_PROTOCOLS lists WM_DELETE_WINDOW, so a window manager's close "
                                "button asks instead of killing the client";
    SendCloseRequest(box);
    ExpectClosedCleanly();
}

// A button acts on release over it: held and dragged off, it lets go without closing; other
// clicks and keys leave the box open. Each step is seen through the button's pressed look, so
// that the test knows the box has handled everything before it.
TEST_F(MessageBoxOnDisplay, OnlyAReleaseOverOkCloses) {
    const Window box = ShowBox(kNotice);
    ASSERT_NE(box, 0u);
    const Geometry boxArea = GeometryOf(display_, box);
    const Geometry ok = ButtonGeometry(box);
    const Window button = ButtonOf(display_, box);
    const unsigned long raised = PixelAt(display_, button, 4, 4);
    auto looksPressed = [&] { return PixelAt(display_, button, 4, 4) != raised; };
    auto looksRaised = [&] { return PixelAt(display_, button, 4, 4) == raised; };

    MovePointer(boxArea.x + 5, boxArea.y + 5); // a click on the text
    PressButton(true);
    PressButton(false);
    PressKey(XK_a); // a key that means nothing to the box
    MovePointer(ok.x + ok.width / 2, ok.y + ok.height / 2);
    PressButton(true);
    ASSERT_TRUE(WaitUntil(looksPressed)) << "OK looks pressed while button 1 is held on it";
    EXPECT_NE(FindBox(display_, "Error"), 0u) << "a click on the text or the key 'a' closed it";

    MovePointer(boxArea.x + 5, boxArea.y + 5);
    ASSERT_TRUE(WaitUntil(looksRaised)) << "OK looks raised once the pointer leaves it";
    PressButton(false);
    MovePointer(ok.x + ok.width / 2, ok.y + ok.height / 2);
    PressButton(true);
    ASSERT_TRUE(WaitUntil(looksPressed)) << "pressed again after the release outside";
    EXPECT_NE(FindBox(display_, "Error"), 0u) << "a release off the button closed the box";
    PressButton(false);
    ExpectClosedCleanly();
}

TEST_F(MessageBoxOnDisplay, TheBoxIsAFixedSizeDialogCentredOnTheScreen) {
    const Window box = ShowBox(kNotice);
    ASSERT_NE(box, 0u);
    const Geometry g = GeometryOf(display_, box);
    const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
    const int screenHeight = DisplayHeight(display_, DefaultScreen(display_));
    EXPECT_NEAR(g.x + g.width / 2, screenWidth / 2, 2) << "centred across";
    EXPECT_NEAR(g.y + g.height / 2, screenHeight / 2, 2) << "centred down";
    EXPECT_GE(g.width, 240);
    EXPECT_LE(g.width, 520) << "the notice wraps rather than making a wide box";
    EXPECT_GT(DarkPixels(display_, box, 0, 0, g.width, g.height / 2), 200)
        << "the notice's words are drawn";

    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(display_, box, &hints, &supplied));
    EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
    EXPECT_EQ(hints.min_width, g.width);
    EXPECT_EQ(hints.max_width, g.width);
    EXPECT_EQ(hints.min_height, g.height);
    EXPECT_EQ(hints.max_height, g.height) << "a window manager may not resize the box";

    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(display_, box, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False),
                                 0, 8, False, XA_ATOM, &type, &format, &count, &after, &data),
              Success);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(reinterpret_cast<Atom*>(data)[0],
              XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DIALOG", False));
    XFree(data);

    PressKey(XK_Return);
    ExpectClosedCleanly();
}

TEST_F(MessageBoxOnDisplay, TheTitleIsTheCaptionInBothEncodings) {
    const char* caption = "Gr\xC3\xB6\xC3\x9F"
                          "e \xE2\x9C\x93"; // "Größe ✓" in UTF-8
    const Window box = ShowBox("text", caption);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(StringProperty(display_, box, "_NET_WM_NAME"), caption) << "UTF-8, as it came";
    EXPECT_EQ(WindowName(display_, box), "Gr\xF6\xDF"
                                         "e ?")
        << "WM_NAME in Latin-1, '?' for the check mark Latin-1 lacks";
    PressKey(XK_Escape);
    ExpectClosedCleanly(caption);
}

TEST_F(MessageBoxOnDisplay, ANullCaptionIsTitledError) {
    ASSERT_NE(ShowBox("text", nullptr), 0u);
    PressKey(XK_Escape);
    ExpectClosedCleanly();
}

TEST_F(MessageBoxOnDisplay, NullAndEmptyTextsStillGiveABoxWithOk) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(text == nullptr ? "null text" : "empty text");
        const Window box = ShowBox(text, "Error", false);
        ASSERT_NE(box, 0u);
        const Window button = ButtonOf(display_, box);
        ASSERT_NE(button, 0u) << "OK is there";
        const Geometry ok = GeometryOf(display_, button);
        EXPECT_TRUE(WaitUntil([&] {
            return DarkPixels(display_, button, 0, 0, ok.width, ok.height) > 10;
        })) << "the label OK is drawn";
        PressKey(XK_Return);
        ExpectClosedCleanly();
    }
}

// A private Xvfb that the test can take away while the box is open.
class OwnServer {
  public:
    OwnServer() {
        int number[2];
        if (pipe(number) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(number[0]);
            const std::string fd = std::to_string(number[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(number[1]);
        // The server writes the number and then a line break, and dies if the pipe is closed in
        // between: read up to the line break.
        std::string line;
        const auto deadline = Clock::now() + kPatience;
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd p{number[0], POLLIN, 0};
            char buffer[32];
            if (poll(&p, 1, 100) != 1)
                continue;
            const ssize_t count = read(number[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            line.append(buffer, static_cast<std::size_t>(count));
        }
        if (line.find('\n') != std::string::npos)
            name_ = ":" + std::to_string(std::atoi(line.c_str()));
        close(number[0]);
    }

    ~OwnServer() { Stop(); }

    // Ends the server as a shutdown would (it drops its clients and its lock file); one that
    // does not end in time is killed.
    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        if (!WaitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; })) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    const std::string& Name() const { return name_; } // empty when it did not start

  private:
    pid_t pid_ = -1;
    std::string name_;
};

TEST(MessageBoxServerLoss, TheCallReturnsIdokWhenTheServerGoesAway) {
    XSetErrorHandler(IgnoreXError);
    OwnServer server;
    ASSERT_FALSE(server.Name().empty()) << "a private Xvfb started";
    Display* display = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (display = XOpenDisplay(server.Name().c_str())); }));
    BoxProcess process(kNotice, "Error", server.Name().c_str());
    ASSERT_TRUE(process.Started());
    EXPECT_TRUE(WaitUntil([&] {
        const Window box = FindBox(display, "Error");
        return box != 0 && Viewable(display, box);
    })) << "the box appears on the private server";
    XCloseDisplay(display);
    server.Stop();
    BoxReport report;
    ASSERT_TRUE(process.WaitForReport(report))
        << "a lost connection ends the box instead of the process (" << process.DeathNote() << ")";
    ExpectIdokAndCleanEnd(process, report);
}

} // namespace
