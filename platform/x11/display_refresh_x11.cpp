// The display's refresh rate from XRandR: the current mode's pixel clock over its pixels per
// frame (RandR 1.3), or the rate of the screen's configuration where only RandR 1.0 is there.
#include "platform/x11/display_x11.h"
#include "platform/x11/randr_x11.h"

namespace {

// Frames a second of a mode, from its timings; 0 when they are missing.
double modeRate(const XRRModeInfo& mode) {
    double lines = mode.vTotal;
    if (mode.modeFlags & RR_DoubleScan)
        lines *= 2;
    if (mode.modeFlags & RR_Interlace)
        lines /= 2;
    if (mode.hTotal == 0 || lines <= 0)
        return 0;
    return static_cast<double>(mode.dotClock) / (mode.hTotal * lines);
}

double crtcRate(Display* display, XRRScreenResources* resources, RRCrtc crtc) {
    XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, crtc);
    if (!info)
        return 0;
    double rate = 0;
    for (int i = 0; i < resources->nmode; ++i)
        if (resources->modes[i].id == info->mode)
            rate = modeRate(resources->modes[i]);
    XRRFreeCrtcInfo(info);
    return rate;
}

// The lit CRTC whose picture holds the root-window point (x, y); None when no CRTC shows it.
RRCrtc crtcAt(Display* display, XRRScreenResources* resources, int x, int y) {
    RRCrtc found = None;
    for (int i = 0; i < resources->ncrtc && found == None; ++i) {
        XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (!info)
            continue;
        if (info->mode != None && x >= info->x && y >= info->y &&
            x < info->x + static_cast<int>(info->width) &&
            y < info->y + static_cast<int>(info->height))
            found = resources->crtcs[i];
        XRRFreeCrtcInfo(info);
    }
    return found;
}

RRCrtc primaryCrtc(Display* display, XRRScreenResources* resources, Window root) {
    const RROutput primary = XRRGetOutputPrimary(display, root);
    if (primary == None)
        return None;
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, primary);
    if (!info)
        return None;
    const RRCrtc crtc = info->crtc;
    XRRFreeOutputInfo(info);
    return crtc;
}

// RandR 1.3: the mode of the monitor showing the window's centre, else of the primary monitor,
// else of the first monitor with a rate.
double monitorRate(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return 0;
    int x = 0, y = 0;
    Window child = None;
    XTranslateCoordinates(display, window, attributes.root, attributes.width / 2,
                          attributes.height / 2, &x, &y, &child);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, attributes.root);
    if (!resources)
        return 0;
    double rate = 0;
    RRCrtc crtc = crtcAt(display, resources, x, y);
    if (crtc == None)
        crtc = primaryCrtc(display, resources, attributes.root);
    if (crtc != None)
        rate = crtcRate(display, resources, crtc);
    for (int i = 0; i < resources->ncrtc && rate <= 0; ++i)
        rate = crtcRate(display, resources, resources->crtcs[i]);
    XRRFreeScreenResources(resources);
    return rate;
}

// RandR 1.0: the whole screen's configuration rate, in whole Hz.
double screenRate(Display* display, Window window) {
    XRRScreenConfiguration* config = XRRGetScreenInfo(display, window);
    if (!config)
        return 0;
    const double rate = XRRConfigCurrentRate(config);
    XRRFreeScreenConfigInfo(config);
    return rate;
}

} // namespace

double displayRefreshHz(void* opaqueDisplay, unsigned long window) {
    Display* display = static_cast<Display*>(opaqueDisplay);
    if (!window || !hasRandR(display, 0))
        return 0;
    const double rate =
        hasRandR(display, 3) ? monitorRate(display, window) : screenRate(display, window);
    return rate > 0 ? rate : 0;
}
