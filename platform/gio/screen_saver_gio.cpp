// The screen saver request on the session bus, through GIO's D-Bus: the desktop's
// org.freedesktop.ScreenSaver, or inside a sandbox the desktop portal. The request is made on a
// private connection of its own, to the bus the environment names at the time, never the shared
// session-bus connection (read once a process) and never a bus started for it: GIO's last resort,
// X11 autolaunch, would start one. Every wait is bounded, so no bus can hang start-up or the end.
#include "platform/screen_saver.h"

#include "platform/display_session.h"

#include <gio/gio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

const char kAppName[] = "Velmora";
const char kReason[] = "Showing the live mirror";
const int kTimeoutMs = 1000;   // each connection and call
const guint32 kPortalIdle = 8; // the portal's flag for idleness, which blanks and locks

const char kScreenSaver[] = "org.freedesktop.ScreenSaver"; // also its interface
const char kScreenSaverPath[] = "/org/freedesktop/ScreenSaver";
const char kPortal[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";

// The request held until letScreenSleep. Its connection stays open meanwhile: the screen saver
// also lets go when it closes, so a request never outlives the process.
struct HeldRequest {
    GDBusConnection* bus = nullptr; // null: none is held
    ScreenSaverRequest kind = ScreenSaverRequest::none;
    guint32 cookie = 0; // screenSaver: the cookie Inhibit returned
    std::string handle; // portal: the request object Inhibit returned
};
HeldRequest held;

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The session bus as libdbus and GIO find it, but for their last resort: DBUS_SESSION_BUS_ADDRESS,
// else the user's own socket $XDG_RUNTIME_DIR/bus where it exists; "" where there is none.
std::string sessionBusAddress() {
    if (isSet("DBUS_SESSION_BUS_ADDRESS"))
        return std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!isSet("XDG_RUNTIME_DIR"))
        return "";
    const std::string socket = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/bus";
    struct stat facts;
    if (stat(socket.c_str(), &facts) != 0 || !S_ISSOCK(facts.st_mode) || facts.st_uid != getuid())
        return "";
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    const std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

ScreenSaverSigns readSigns() {
    ScreenSaverSigns signs;
    // Read as SDL 1.2 reads it; where SDL 2 or 3 reads it, it asks by itself or not at all.
    const char* allow = std::getenv("SDL_VIDEO_ALLOW_SCREENSAVER");
    signs.userAllowsSleep = allow && std::atoi(allow) != 0;
    signs.sdlIsCompat = sdlIsCompat();
    // As SDL 2 tells a sandbox.
    signs.sandboxed = access("/.flatpak-info", F_OK) == 0 ||
                      (isSet("SNAP") && isSet("SNAP_NAME") && isSet("SNAP_REVISION"));
    signs.sessionBus = !sessionBusAddress().empty();
    return signs;
}

struct Connecting {
    GDBusConnection* bus = nullptr;
    bool done = false;
};

void connected(GObject*, GAsyncResult* result, gpointer connecting) {
    auto* attempt = static_cast<Connecting*>(connecting);
    attempt->bus = g_dbus_connection_new_for_address_finish(result, nullptr);
    attempt->done = true;
}

gboolean markLate(gpointer late) {
    *static_cast<bool*>(late) = true;
    return G_SOURCE_REMOVE;
}

// A private connection to the bus at address, or null when it cannot be had within the time
// limit. GIO's connection has no limit of its own (its Hello waits 25 s), so it is awaited on a
// context of its own; past the limit the attempt is left behind on that context, which nothing
// runs again, so that its end never comes back here.
GDBusConnection* connectWithin(const std::string& address) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    Connecting attempt;
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, connected, &attempt);
    bool late = false;
    GSource* timer = g_timeout_source_new(kTimeoutMs);
    g_source_set_callback(timer, markLate, &late, nullptr);
    g_source_attach(timer, context);
    while (!attempt.done && !late)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return attempt.bus;
}

// A method call answered within the time limit: its reply, or null on any error (no such
// service, an address that reaches nothing), which is no failure of the program's.
GVariant* callWithin(GDBusConnection* bus, const char* name, const char* path,
                     const char* interface, const char* method, GVariant* arguments,
                     const char* replyType) {
    return g_dbus_connection_call_sync(bus, name, path, interface, method, arguments,
                                       G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE,
                                       kTimeoutMs, nullptr, nullptr);
}

// Closes the connection without waiting for it: a bus that stopped reading would hold up a close
// that waits for ever.
void closeBus(GDBusConnection* bus) {
    g_dbus_connection_close(bus, nullptr, nullptr, nullptr);
    g_object_unref(bus);
}

// Asks to inhibit; true with held's cookie or handle set when the request was granted.
bool inhibit(GDBusConnection* bus, ScreenSaverRequest kind) {
    GVariant* reply = nullptr;
    if (kind == ScreenSaverRequest::screenSaver) {
        reply = callWithin(bus, kScreenSaver, kScreenSaverPath, kScreenSaver, "Inhibit",
                           g_variant_new("(ss)", kAppName, kReason), "(u)");
        if (reply)
            g_variant_get(reply, "(u)", &held.cookie);
    } else {
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(kReason));
        // No parent window: the portal asks nothing of the user for this, and SDL names none.
        reply = callWithin(bus, kPortal, kPortalPath, "org.freedesktop.portal.Inhibit", "Inhibit",
                           g_variant_new("(sua{sv})", "", kPortalIdle, &options), "(o)");
        if (reply) {
            const gchar* handle = nullptr;
            g_variant_get(reply, "(&o)", &handle);
            held.handle = handle;
        }
    }
    if (!reply)
        return false;
    g_variant_unref(reply);
    return true;
}

} // namespace

ScreenSaverRequest chooseScreenSaverRequest(const ScreenSaverSigns& signs) {
    if (signs.userAllowsSleep)
        return ScreenSaverRequest::none;
    if (signs.sdlIsCompat)
        return ScreenSaverRequest::bySdl;
    if (!signs.sessionBus)
        return ScreenSaverRequest::none;
    return signs.sandboxed ? ScreenSaverRequest::portal : ScreenSaverRequest::screenSaver;
}

void nameSdlScreenSaverRequest() {
    setenv("SDL_APP_NAME", kAppName, 0);
    setenv("SDL_SCREENSAVER_INHIBIT_ACTIVITY_NAME", kReason, 0);
}

void keepScreenAwake() {
    requestScreenAwake(chooseScreenSaverRequest(readSigns()));
}

void requestScreenAwake(ScreenSaverRequest request) {
    if (held.bus ||
        (request != ScreenSaverRequest::screenSaver && request != ScreenSaverRequest::portal))
        return;
    const std::string address = sessionBusAddress();
    GDBusConnection* bus = address.empty() ? nullptr : connectWithin(address);
    if (!bus)
        return;
    if (!inhibit(bus, request)) {
        closeBus(bus);
        return;
    }
    held.bus = bus;
    held.kind = request;
}

void letScreenSleep() {
    if (!held.bus)
        return;
    GVariant* reply = held.kind == ScreenSaverRequest::screenSaver
                          ? callWithin(held.bus, kScreenSaver, kScreenSaverPath, kScreenSaver,
                                       "UnInhibit", g_variant_new("(u)", held.cookie), "()")
                          : callWithin(held.bus, kPortal, held.handle.c_str(),
                                       "org.freedesktop.portal.Request", "Close", nullptr, "()");
    if (reply)
        g_variant_unref(reply);
    closeBus(held.bus);
    held = HeldRequest();
}
