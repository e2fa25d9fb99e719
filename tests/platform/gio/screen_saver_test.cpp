// The screen saver request: which is made for which SDL and session, and the requests made on a
// private bus of the test's own, answered by a stand-in for the desktop's services.
#include "platform/display_session.h"
#include "platform/screen_saver.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using Request = ScreenSaverRequest;
using Calls = std::vector<std::string>;

TEST(ScreenSaver, ExactlyOneRequestIsMade) {
    struct Case {
        const char* session;
        ScreenSaverSigns signs; // the user allows sleep, sdl12-compat, sandboxed, a session bus
        Request request;
    };
    const Case cases[] = {
        {"SDL 1.2 itself on a desktop", {false, false, false, true}, Request::screenSaver},
        {"SDL 1.2 itself in a sandbox", {false, false, true, true}, Request::portal},
        {"SDL 1.2 itself without a session bus", {false, false, false, false}, Request::none},
        {"sdl12-compat: its SDL asks", {false, true, false, true}, Request::bySdl},
        {"sdl12-compat in a sandbox", {false, true, true, true}, Request::bySdl},
        {"sdl12-compat without a bus (X11, Wayland)", {false, true, false, false}, Request::bySdl},
        {"the user lets the screen sleep", {true, false, false, true}, Request::none},
        {"the user lets it sleep, sdl12-compat", {true, true, true, true}, Request::none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseScreenSaverRequest(c.signs), c.request) << c.session;
}

const char kSaver[] = "/org/freedesktop/ScreenSaver";
const char kHandle[] = "/org/freedesktop/portal/desktop/request/1_1/t";
Calls calls; // every call that reached the stand-in, as "path interface.method arguments"

// The desktop's screen saver and portal on the test's bus: keeps each call and answers it (Inhibit
// with cookie 42 or the portal's request), on GDBus's thread before the caller can see the answer.
GDBusMessage* standIn(GDBusConnection* bus, GDBusMessage* call, gboolean incoming, gpointer) {
    if (!incoming || g_dbus_message_get_message_type(call) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
        return call;
    const std::string path = g_dbus_message_get_path(call);
    const std::string method = g_dbus_message_get_member(call);
    GVariant* arguments = g_dbus_message_get_body(call);
    gchar* printed = arguments ? g_variant_print(arguments, TRUE) : g_strdup("()");
    calls.push_back(path + " " + g_dbus_message_get_interface(call) + "." + method + " " + printed);
    g_free(printed);
    GDBusMessage* reply = g_dbus_message_new_method_reply(call);
    if (method == "Inhibit")
        g_dbus_message_set_body(reply, path == kSaver ? g_variant_new("(u)", 42)
                                                      : g_variant_new("(o)", kHandle));
    g_dbus_connection_send_message(bus, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
    g_object_unref(reply);
    g_object_unref(call);
    return nullptr;
}

// Takes or gives up the desktop's names on the bus.
void serve(GDBusConnection* bus, bool on) {
    for (const char* name : {"org.freedesktop.ScreenSaver", "org.freedesktop.portal.Desktop"})
        g_variant_unref(g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            on ? "RequestName" : "ReleaseName",
            on ? g_variant_new("(su)", name, 0) : g_variant_new("(s)", name), nullptr,
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
}

void setOrUnset(const char* name, const char* value) {
    value ? setenv(name, value, 1) : unsetenv(name);
}

TEST(ScreenSaver, OneRequestOnTheSessionBusIsLetGoOnceWithoutAWord) {
    GTestDBus* testBus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(testBus);
    const std::string address = g_test_dbus_get_bus_address(testBus); // unix:path=P,guid=G
    const char* bus = address.c_str();
    GDBusConnection* desktop = g_dbus_connection_new_for_address_sync(
        bus,
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(desktop, nullptr);
    g_dbus_connection_add_filter(desktop, standIn, nullptr, nullptr);
    // A runtime folder whose bus is the test's, as a desktop session's is its own.
    gchar* runtime = g_dir_make_tmp("velmora-XXXXXX", nullptr);
    const std::string link = std::string(runtime) + "/bus";
    const size_t path = address.find("path=") + 5;
    ASSERT_EQ(symlink(address.substr(path, address.find(',', path) - path).c_str(), link.c_str()),
              0);

    const Calls ours = {std::string(kSaver) + " org.freedesktop.ScreenSaver.Inhibit "
                                              "('Velmora', 'Showing the live mirror')",
                        std::string(kSaver) +
                            " org.freedesktop.ScreenSaver.UnInhibit (uint32 42,)"};
    const Calls portal = {"/org/freedesktop/portal/desktop org.freedesktop.portal.Inhibit.Inhibit "
                          "('', uint32 8, {'reason': <'Showing the live mirror'>})",
                          std::string(kHandle) + " org.freedesktop.portal.Request.Close ()"};
    void (*const saver)() = [] { requestScreenAwake(Request::screenSaver); };
    void (*const allowed)() = [] {
        setenv("SDL_VIDEO_ALLOW_SCREENSAVER", "1", 1), keepScreenAwake();
    };
    struct Case {
        const char* what;
        void (*ask)();
        bool served;
        const char* busAddress; // DBUS_SESSION_BUS_ADDRESS
        const char* runtimeDir; // XDG_RUNTIME_DIR
        Calls calls;
    };
    const Case cases[] = {
        {"the screen saver", saver, true, bus, nullptr, ours},
        {"the portal", [] { requestScreenAwake(Request::portal); }, true, bus, nullptr, portal},
        {"SDL's own request", [] { requestScreenAwake(Request::bySdl); }, true, bus, nullptr, {}},
        {"$XDG_RUNTIME_DIR/bus", saver, true, nullptr, runtime, ours},
        {"no bus: none is started", saver, true, nullptr, "/nonexistent", {}},
        {"an address that reaches nothing", saver, true, "disabled:", nullptr, {}},
        {"a bus without a screen saver", saver, false, bus, nullptr, {}},
        {"this SDL", keepScreenAwake, true, bus, nullptr, sdlIsCompat() ? Calls() : ours},
        {"SDL_VIDEO_ALLOW_SCREENSAVER=1", allowed, true, bus, nullptr, {}},
    };
    for (const Case& c : cases) {
        serve(desktop, c.served);
        setOrUnset("DBUS_SESSION_BUS_ADDRESS", c.busAddress);
        setOrUnset("XDG_RUNTIME_DIR", c.runtimeDir);
        testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        c.ask();
        c.ask(); // held already: not asked again
        letScreenSleep();
        letScreenSleep();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.what;
        EXPECT_LT(took.count(), 1) << c.what << ": a call waited for its time limit";
        EXPECT_EQ(calls, c.calls) << c.what;
        calls.clear();
    }
    unlink(link.c_str());
    rmdir(runtime);
    g_free(runtime);
    g_object_unref(desktop);
    g_test_dbus_down(testBus);
    g_object_unref(testBus);
}

} // namespace
