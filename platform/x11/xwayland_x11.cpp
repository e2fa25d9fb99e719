// XWayland told from a real X server by what the server itself says, never by the environment:
// WAYLAND_DISPLAY and XDG_SESSION_TYPE describe the session the program was started from, not the
// server DISPLAY names, which may be an Xvfb or Xephyr started inside a Wayland session, or an X
// server reached over ssh -X from one, where modes do switch for real.
//
// The server's signs differ between XWayland releases, so any one of them will do:
// - newer XWayland servers list an extension named XWAYLAND (Debian 13's 24.1 does, Debian 12's
//   22.1 does not);
// - XWayland marks every RandR output it makes with the output property "RANDR Emulation" (both
//   releases do, under GNOME and weston alike); no other X server sets it;
// - older XWayland servers name their outputs XWAYLAND0, XWAYLAND1, ... (newer ones take the
//   compositor's names, such as GNOME's Meta-0 or weston's screen0, so the name alone is not
//   enough).
#include "platform/x11/display_x11.h"
#include "platform/x11/randr_x11.h"

#include <cstring>

namespace {

const char kXWaylandExtension[] = "XWAYLAND";
const char kEmulationProperty[] = "RANDR Emulation";
const char kOutputNamePrefix[] = "XWAYLAND";

bool listsXWaylandExtension(Display* display) {
    int opcode = 0, firstEvent = 0, firstError = 0;
    return XQueryExtension(display, kXWaylandExtension, &opcode, &firstEvent, &firstError);
}

bool outputLooksEmulated(Display* display, XRRScreenResources* resources, RROutput output,
                         Atom emulation) {
    if (emulation != None) {
        XRRPropertyInfo* property = XRRQueryOutputProperty(display, output, emulation);
        if (property) {
            XFree(property);
            return true;
        }
    }
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, output);
    if (!info)
        return false;
    const bool named = info->name && std::strncmp(info->name, kOutputNamePrefix,
                                                  sizeof kOutputNamePrefix - 1) == 0;
    XRRFreeOutputInfo(info);
    return named;
}

// Whether any RandR output carries XWayland's property or name.
bool hasXWaylandOutput(Display* display) {
    if (!hasRandR(display, 2))
        return false;
    XRRScreenResources* resources =
        XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
    if (!resources)
        return false;
    // Only looked up: where no client ever made the atom, no output can carry the property.
    const Atom emulation = XInternAtom(display, kEmulationProperty, True);
    bool found = false;
    for (int i = 0; i < resources->noutput && !found; ++i)
        found = outputLooksEmulated(display, resources, resources->outputs[i], emulation);
    XRRFreeScreenResources(resources);
    return found;
}

} // namespace

bool isXWayland(void* opaqueDisplay) {
    Display* display = static_cast<Display*>(opaqueDisplay);
    return display && (listsXWaylandExtension(display) || hasXWaylandOutput(display));
}
