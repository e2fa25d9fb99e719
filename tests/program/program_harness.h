// Drives the real velmora program on the test's private X display as a user would: starts it,
// finds its windows, looks at what it shows, presses keys and buttons, and waits for its end.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

// An X window id; Xlib itself stays inside the harness, away from the tests' own names.
using Window = unsigned long;

struct Rgb {
    int r, g, b;
};

// What a finished program left behind.
struct Outcome {
    bool exited = false; // false: still running at the deadline (then killed) or killed by a signal
    int status = -1;     // exit status when exited
    // How it ended, in words: "exited with status 0", "ended by signal 11 (Segmentation fault)"
    // or "still ran after 5 s". A signal or the deadline is also written on the test's standard
    // error, so that a crash is never taken for a hang.
    std::string ended;
    std::string stderrText;
    std::string stdoutText;
    // Where a program killed at the deadline waited: its threads' backtraces (or, without gdb,
    // their kernel wait channels); also written on the test's standard error. Empty otherwise.
    std::string stuckAt;
};

class Program {
  public:
    // Starts the program with the given arguments (after its own path) and extra environment
    // entries ("NAME=value"; "NAME=" removes NAME), through the command runner when one is given
    // (a program and its arguments, found on PATH, that runs the program after them).
    explicit Program(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     const std::vector<std::string>& runner = {});
    ~Program(); // kills the program if it still runs

    // Waits up to seconds for the program to end by itself; kills it otherwise.
    Outcome wait(double seconds);
    // Sends the program a signal (SIGTERM, SIGINT, ...).
    void signal(int number);
    // What the still running program has written on standard output so far.
    const std::string& outputSoFar();

  private:
    pid_t pid = -1;
    int stderrFd = -1;
    int stdoutFd = -1;
    std::string stderrText;
    std::string stdoutText;
    void drainOutput(); // and standard output
};

// Whether a program's words are exactly one line: text that ends in its only line break.
bool isOneLine(const std::string& text);

// The first viewable top-level window titled title, other than besides, waiting up to seconds;
// 0 if none.
Window findTitled(const std::string& title, double seconds, Window besides = 0);
// A viewable top-level window covering the whole screen, waiting up to seconds; 0 if none.
Window findFullScreen(double seconds);
// The root window: the whole screen as the user sees it, to look at.
Window wholeScreen();
// How many viewable top-level windows are titled title right now.
int countTitled(const std::string& title);

// A window of the program on another X display (XWayland under the test's compositor, say), as
// that display's server sees it.
struct WindowPlace {
    bool found = false;
    int x = 0, y = 0;          // top-left corner in root-window pixels
    int width = 0, height = 0; // pixels
    bool pretended = false;    // XWayland marks it as shown at a pretended mode's size
};
// The first viewable window of class "velmora" anywhere under the root of the X display named
// displayName, waiting up to seconds for one that has stayed for half a second.
WindowPlace findProgramWindowOn(const std::string& displayName, double seconds);

// Waits up to seconds until keys sent to the full-screen window reach the program; returns
// whether they do. SDL 2, under sdl12-compat, listens for keys on its window, which pressKey
// gives the focus; SDL 1.2 covers the screen with a window that does not, and grabs the keyboard
// a moment after it appears (a key sent before then is lost).
bool readyForKeys(Window fullScreen, double seconds);
// Waits up to seconds, looking every 50 ms, until done() holds; returns whether it did.
bool waitUntil(double seconds, const std::function<bool()>& done);

// Size of a window in pixels.
void windowSize(Window window, int& width, int& height);
// The pixels of a window, row by row from its top-left corner.
std::vector<Rgb> grab(Window window, int& width, int& height);
// Writes a window's picture as a PNG, for a person to look at.
void savePng(Window window, const std::string& path);

// Input from outside, through the X test extension.
void pressKey(Window window, unsigned long keysym);
void holdKey(Window window, unsigned long keysym, bool down);
void movePointer(Window window, int x, int y);
void pressButton(Window window, unsigned button, bool down);
// The window manager's close button: a WM_DELETE_WINDOW message.
void closeWindow(Window window);

// Sleeps for seconds, flushing the display connection.
void pause(double seconds);

} // namespace harness
