// The real program on a camera that PipeWire gives, as GNOME and other desktops give cameras to
// programs: the test's private PipeWire has no camera but the one the test makes, and the program
// finds it through GStreamer's device monitor, shows its picture and ends cleanly.
#include "program_harness.h"
#include "program_pictures.h"

#include <X11/keysym.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace harness;

namespace {

const char kCameraName[] = "PipeWire Test Camera";
// The camera's picture: all orange, which neither the colour bars nor black dots show. Its format
// is named, as a real camera's is: otherwise PipeWire 0.3.65's sink offers an empty list of
// formats, and no picture comes.
const char kCamera[] =
    "videotestsrc is-live=true pattern=solid-color foreground-color=0xffff8000 ! "
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1 ! "
    "pipewiresink name=sink mode=provide";
const Rgb kOrange{253, 124, 0}; // after its round trip through YUY2

// A camera node in the test's PipeWire, as a camera's is: a video source for the camera role. It
// runs in a process of its own, as a camera's node does, until it is killed or the test ends.
// The camera's pid, or -1.
pid_t startCamera() {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    gst_init(nullptr, nullptr);
    GstElement* camera = gst_parse_launch(kCamera, nullptr);
    if (!camera)
        _exit(1);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(camera), "sink");
    GstStructure* properties = gst_structure_new(
        "properties", "media.class", G_TYPE_STRING, "Video/Source", "media.role", G_TYPE_STRING,
        "Camera", "node.description", G_TYPE_STRING, kCameraName, nullptr);
    g_object_set(sink, "stream-properties", properties, nullptr);
    gst_structure_free(properties);
    gst_object_unref(sink);
    gst_element_set_state(camera, GST_STATE_PLAYING);
    for (;;)
        pause();
}

// Whether GStreamer's device monitor lists the camera now, as the program would find it: started
// first, as the program's is, since listing devices without it is broken in GStreamer's PipeWire
// plugin of Debian 12 (it may hang) and 13 (it hands over freed devices). Never stopped: stopping
// PipeWire's provider before PipeWire 0.3.73 may crash the exit.
bool cameraListed() {
    static GstDeviceMonitor* monitor = [] {
        GstDeviceMonitor* made = gst_device_monitor_new();
        gst_device_monitor_add_filter(made, "Video/Source", nullptr);
        gst_device_monitor_start(made);
        return made;
    }();
    GList* devices = gst_device_monitor_get_devices(monitor);
    bool found = false;
    for (GList* item = devices; item; item = item->next) {
        gchar* name = gst_device_get_display_name(GST_DEVICE(item->data));
        found = found || g_strcmp0(name, kCameraName) == 0;
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    return found;
}

bool near(const Rgb& p, const Rgb& want) {
    return std::abs(p.r - want.r) <= 8 && std::abs(p.g - want.g) <= 8 &&
           std::abs(p.b - want.b) <= 8;
}

// Dots at the corners and in the middle of the picture: disc centres in window pixels.
const int kSpots[][2] = {{10, 7}, {790, 7}, {410, 307}, {10, 577}, {790, 577}};

bool showsCamera(const std::vector<Rgb>& pixels) {
    if (pixels.size() != 800u * 600)
        return false;
    for (const auto& spot : kSpots)
        if (!near(pixels[spot[1] * 800 + spot[0]], kOrange))
            return false;
    return true;
}

// The colour bars, mirrored: their blue right edge at the left of the screen, their white at the
// right.
bool showsBars(const std::vector<Rgb>& pixels) {
    if (pixels.size() != 800u * 600)
        return false;
    const Rgb& corner = pixels[7 * 800 + 10];
    const Rgb& right = pixels[7 * 800 + 790];
    return corner.b > 150 && corner.r < 60 && corner.g < 60 && right.r > 150 && right.g > 150 &&
           right.b > 150;
}

TEST(PipeWireProgram, ShowsThePipeWireCameraAsTheOnlyCameraAndEndsCleanly) {
    const pid_t camera = startCamera();
    ASSERT_GT(camera, 0);
    gst_init(nullptr, nullptr);
    EXPECT_TRUE(waitUntil(10, cameraListed)) << "the device monitor lists " << kCameraName;

    Program program({"window"}, {"VELMORA_VIDEO_SOURCE="});
    const Window window = findTitled("Velmora", kStartSeconds);
    ASSERT_NE(window, 0u);
    std::vector<Rgb> pixels;
    int width = 0, height = 0;
    EXPECT_TRUE(waitUntil(kChangeSeconds, [&] {
        pixels = grab(window, width, height);
        return showsCamera(pixels);
    })) << "the dots show the camera's orange";
    savePng(window, "pipewire-camera.png");
    // The next source is the colour bars: PipeWire's camera is the only one the program found.
    pressKey(window, XK_c);
    EXPECT_TRUE(waitUntil(kChangeSeconds, [&] { return showsBars(grab(window, width, height)); }))
        << "C shows the colour bars";
    pressKey(window, XK_Escape);
    const Outcome outcome = program.wait(kQuitSeconds);
    EXPECT_TRUE(outcome.exited && outcome.status == 0) << "Escape ends it with status 0";
    EXPECT_EQ(outcome.stderrText, "velmora: now showing colour bars\n");
    EXPECT_EQ(outcome.stdoutText, "");

    kill(camera, SIGTERM);
    waitpid(camera, nullptr, 0);
}

} // namespace
