// What the X11 files here share about the X server's RandR extension, in Xlib's own types.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

// Whether the server behind the connection has RandR 1.minor or later: 1.2 tells of outputs and
// their properties, 1.3 of the current modes' timings, 1.5 of monitors.
inline bool hasRandR(Display* display, int minor) {
    int eventBase = 0, errorBase = 0, serverMajor = 0, serverMinor = 0;
    return display && XRRQueryExtension(display, &eventBase, &errorBase) &&
           XRRQueryVersion(display, &serverMajor, &serverMinor) &&
           (serverMajor > 1 || (serverMajor == 1 && serverMinor >= minor));
}
