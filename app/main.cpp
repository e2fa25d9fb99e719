// The program's entry: answers --help and --version on standard output without opening anything,
// otherwise takes over SIGINT and SIGTERM and runs the program.
#include "app/app.h"
#include "platform/stop_signals.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: velmora [fullscreen | window] [--hands-free]\n"
    "       velmora --help | -h | --version\n"
    "\n"
    "Shows the webcam's picture, upright and mirrored, as 1620 dots you can push around.\n"
    "\n"
    "Arguments:\n"
    "  fullscreen    fill the screen (the default)\n"
    "  window        an 800 x 600 window titled \"Velmora\"\n"
    "  --hands-free  movement in the picture pushes the dots, and still dots go home\n"
    "                by themselves after 3 s (anywhere among the arguments)\n"
    "  --help, -h    print this help and exit\n"
    "  --version     print the version and exit\n"
    "Any other first argument shows a notice, then runs full screen; further arguments are\n"
    "ignored.\n"
    "\n"
    "Keys and mouse:\n"
    "  left button, held     pull the dots towards the pointer\n"
    "  right button, held    push the dots away\n"
    "  Shift, held           make the pull or push 500 times stronger\n"
    "  Enter                 glide every dot home\n"
    "  Space                 switch between colour dots and halftone discs\n"
    "  C                     show the next video source: the next camera, colour bars,\n"
    "                        then round again\n"
    "  S                     save the picture as a PNG in the pictures folder\n"
    "  R                     record the dots as a WebM clip in the videos folder;\n"
    "                        R again stops it (quitting stops and keeps it too)\n"
    "  M                     turn the hands-free mode on or off\n"
    "  Escape                quit\n"
    "\n"
    "Environment:\n"
    "  VELMORA_VIDEO_SOURCE  a GStreamer source to show instead of the first camera,\n"
    "                        for example 'v4l2src device=/dev/video2'\n"
    "  VELMORA_FRAME_RATE    frames a second to draw instead of the display's refresh rate;\n"
    "                        0 draws as fast as it can\n"
    "  SDL_VIDEODRIVER       SDL's video driver; when not set, x11 where there is an X\n"
    "                        display, else wayland where this SDL has it\n"
    "  DISPLAY               the X display to open\n"
    "  WAYLAND_DISPLAY       the Wayland display, used where there is no X display\n"
    "  SDL_VIDEO_ALLOW_SCREENSAVER=1  let the screen blank as usual (else it stays awake)\n";

// Prints text on standard output; status 0 when it all got there, else 1 with one line saying so.
int printAndExit(const char* text) {
    std::fputs(text, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("velmora: cannot write to standard output");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* first = argc >= 2 ? argv[1] : "";
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0)
        return printAndExit(kUsage);
    if (std::strcmp(first, "--version") == 0)
        return printAndExit("velmora " VELMORA_VERSION "\n");
    // Before anything opens, so that SIGINT and SIGTERM end the program cleanly at any moment.
    catchStopSignals();
    return runApp(argc, argv);
}
