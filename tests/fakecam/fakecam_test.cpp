// The fake cameras as the capture layer's tests meet them: the devices a monitor lists and how
// that list changes, the disc every advertised mode shows, and each kind's way of failing.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <gtest/gtest.h>

#include "fakecam_test_env.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The first frame of a run, or how the run ended instead.
struct Playback {
    GstStateChangeReturn started = GST_STATE_CHANGE_FAILURE; // going to PLAYING
    double openSeconds = 0;                                  // how long going to PLAYING took
    int frames = 0;             // frames that reached the end of the pipeline
    GstSample* first = nullptr; // the first of them, as GRAY8
    std::string error;          // "domain code: message" of the first error, if any
    bool ended = false;         // end-of-stream arrived
};

const double kGiveUpSeconds = 10;

std::string errorText(GQuark domain, int code, const char* message) {
    return std::string(g_quark_to_string(domain)) + " " + std::to_string(code) + ": " + message;
}

std::string resourceError(GstResourceError code, const char* message) {
    return errorText(GST_RESOURCE_ERROR, code, message);
}

const std::string kReadError =
    resourceError(GST_RESOURCE_ERROR_READ, "Could not read from resource.");

std::string errorText(GstMessage* message) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = errorText(error->domain, error->code, error->message);
    g_error_free(error);
    return text;
}

// Plays source through the elements in middle (each followed by "!") into a grey-level frame
// sink; stops at the first frame unless toTheEnd, and always at an error or end-of-stream.
Playback play(GstElement* source, const std::string& middle, bool toTheEnd) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* tail = gst_parse_bin_from_description(
        (middle + " videoconvert ! video/x-raw,format=GRAY8 ! appsink name=out sync=false").c_str(),
        TRUE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, tail, nullptr);
    EXPECT_TRUE(gst_element_link(source, tail));
    GstElement* sink = gst_bin_get_by_name(GST_BIN(tail), "out");
    GstBus* bus = gst_element_get_bus(pipeline);

    Playback run;
    const gint64 begin = g_get_monotonic_time();
    run.started = gst_element_set_state(pipeline, GST_STATE_PLAYING);
    run.openSeconds = (g_get_monotonic_time() - begin) / 1e6;
    while (run.error.empty() && !run.ended && (toTheEnd || run.frames == 0) &&
           g_get_monotonic_time() - begin < kGiveUpSeconds * 1e6) {
        if (GstSample* sample =
                gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_MSECOND * 20)) {
            if (run.frames++ == 0)
                run.first = sample;
            else
                gst_sample_unref(sample);
        }
        GstMessage* message = gst_bus_pop_filtered(
            bus, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            run.error = errorText(message);
            EXPECT_EQ(GST_MESSAGE_SRC(message), GST_OBJECT(source))
                << run.error << ": posted by an element inside the camera, not the camera";
        } else if (message)
            run.ended = true;
        if (message)
            gst_message_unref(message);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return run;
}

GstElement* fakeCamera(const char* kind, const char* device) {
    GstElement* source = gst_element_factory_make("velmorafakecamsrc", nullptr);
    g_object_set(source, "kind", kind, "device", device, nullptr);
    return source;
}

// Whether the frame shows a black disc 60 % of its height across, centred on white: dark just
// inside its edge, light just outside, along both axes.
std::string discProblem(GstSample* sample) {
    GstVideoInfo info;
    gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
    GstVideoFrame frame;
    gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ);
    const int width = info.width, height = info.height;
    const double radius = 0.3 * height;
    auto grey = [&](double x, double y) {
        const auto* row = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                          static_cast<int>(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        return static_cast<int>(row[static_cast<int>(x)]);
    };
    std::string problem;
    for (double scale : {0.0, 0.9, 1.1}) {
        const bool inside = scale < 1;
        const double r = scale * radius;
        const double points[][2] = {{width / 2.0 + r, height / 2.0},
                                    {width / 2.0 - r, height / 2.0},
                                    {width / 2.0, height / 2.0 + r},
                                    {width / 2.0, height / 2.0 - r}};
        for (const auto& p : points)
            if ((grey(p[0], p[1]) < 128) != inside)
                problem += "grey " + std::to_string(grey(p[0], p[1])) + " at (" +
                           std::to_string(int(p[0])) + ", " + std::to_string(int(p[1])) + ") ";
    }
    gst_video_frame_unmap(&frame);
    return problem;
}

std::string deviceText(GstDevice* device) {
    gchar* name = gst_device_get_display_name(device);
    GstStructure* properties = gst_device_get_properties(device);
    std::string text =
        std::string(name) + " " + gst_structure_get_string(properties, "device.path");
    g_free(name);
    gst_structure_free(properties);
    return text;
}

std::vector<std::string> listed(GstDeviceMonitor* monitor) {
    std::vector<std::string> texts;
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next)
        texts.push_back(deviceText(GST_DEVICE(item->data)));
    g_list_free_full(devices, gst_object_unref);
    return texts;
}

// GStreamer on the private plugin set, whoever started the test.
void startGst() {
    for (const char* entry : kGstTestEnvironment) {
        const std::string text = entry;
        const size_t equals = text.find('=');
        setenv(text.substr(0, equals).c_str(), text.substr(equals + 1).c_str(), 1);
    }
    gst_init(nullptr, nullptr);
}

GstDeviceMonitor* videoMonitor() {
    startGst();
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    return monitor;
}

// The next device added or removed on the monitor's bus within five seconds, as "added <device>".
// Extended message types are numbers, not bits, so no mask picks these two out: every message is
// looked at and the others (a monitor that started, say) are passed over.
std::string nextChange(GstDeviceMonitor* monitor) {
    GstBus* bus = gst_device_monitor_get_bus(monitor);
    const gint64 giveUp = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    std::string text = "nothing";
    while (text == "nothing") {
        const gint64 left = giveUp - g_get_monotonic_time();
        GstMessage* message = gst_bus_timed_pop(bus, left > 0 ? left * GST_USECOND : 0);
        if (!message)
            break;
        GstDevice* device = nullptr;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED) {
            gst_message_parse_device_added(message, &device);
            text = "added " + deviceText(device);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED) {
            gst_message_parse_device_removed(message, &device);
            text = "removed " + deviceText(device);
        }
        if (device)
            gst_object_unref(device);
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return text;
}

TEST(FakeCamera, ItsProviderIsTheOnlyOneAndEveryAdvertisedModeShowsTheDisc) {
    setenv("VELMORA_FAKE_CAMERAS", "raw, mjpeg,wide,late", 1);
    GstDeviceMonitor* monitor = videoMonitor();
    gchar** providers = gst_device_monitor_get_providers(monitor);
    ASSERT_TRUE(providers && providers[0]);
    EXPECT_STREQ(providers[0], "velmorafakecamprovider");
    EXPECT_EQ(providers[1], nullptr) << "a provider of real cameras is visible: " << providers[1];
    g_strfreev(providers);

    // The late camera is not there before anyone monitors.
    const std::vector<std::string> expected = {"Fake Raw Camera /dev/video0",
                                               "Fake Mjpeg Camera /dev/video1",
                                               "Fake Wide Camera /dev/video2"};
    EXPECT_EQ(listed(monitor), expected);

    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        EXPECT_TRUE(gst_device_has_classes(device, "Video/Source"));
        GstCaps* caps = gst_device_get_caps(device);
        for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
            const GstStructure* mode = gst_caps_get_structure(caps, i);
            const GValue* rates = gst_structure_get_value(mode, "framerate");
            for (guint r = 0; r < gst_value_list_get_size(rates); ++r) {
                GstCaps* fixed = gst_caps_new_full(gst_structure_copy(mode), nullptr);
                gst_structure_set_value(gst_caps_get_structure(fixed, 0), "framerate",
                                        gst_value_list_get_value(rates, r));
                gchar* text = gst_caps_to_string(fixed);
                const bool jpeg = gst_structure_has_name(mode, "image/jpeg");
                const std::string middle =
                    std::string("capsfilter caps=\"") + text + "\" !" + (jpeg ? " jpegdec !" : "");
                Playback run = play(gst_device_create_element(device, nullptr), middle, false);
                ASSERT_EQ(run.frames, 1)
                    << deviceText(device) << " in " << text << ": " << run.error;
                EXPECT_EQ(discProblem(run.first), "") << deviceText(device) << " in " << text;
                gst_sample_unref(run.first);
                g_free(text);
                gst_caps_unref(fixed);
            }
        }
        gst_caps_unref(caps);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
}

TEST(FakeCamera, EachKindOpensRunsOrFailsAsItsNameSays) {
    startGst();
    setenv("VELMORA_FAKE_DROPOUT_SECONDS", "0.4", 1);
    setenv("VELMORA_FAKE_BUSY_SECONDS", "1000", 1); // busy all through the test
    struct Case {
        const char* kind;
        int frames;         // frames that arrive before the end (-1: at least one)
        std::string error;  // the first error, or "" for none
        bool ended;         // whether it reaches end-of-stream
        double openSeconds; // at least this long to open
    };
    const Case cases[] = {
        {"raw", -1, "", false, 0},
        {"mjpeg", -1, "", false, 0},
        {"wide", -1, "", false, 0},
        {"late", -1, "", false, 0},
        {"grey", -1, "", false, 0},
        {"changing", -1, "", false, 0},
        {"pluggable", -1, "", false, 0}, // plugged in while VELMORA_FAKE_PLUG_FILE is not set
        {"slow", -1, "", false, 1.4},
        {"unopenable", 0,
         resourceError(GST_RESOURCE_ERROR_OPEN_READ_WRITE, "Cannot open device '/dev/video7'"),
         false, 0},
        {"busy", 0, resourceError(GST_RESOURCE_ERROR_BUSY, "Device '/dev/video7' is busy"), false,
         0},
        {"freed", 0,
         resourceError(GST_RESOURCE_ERROR_OPEN_READ_WRITE,
                       "Could not open device '/dev/video7' for reading and writing."),
         false, 0},
        {"eos", 0, "", true, 0},
        // 0.4 s at 30 frames a second, then gone; last, as its device stays gone afterwards.
        {"dropout", 12, kReadError, false, 0},
    };
    for (const Case& c : cases) {
        const bool jpeg = std::string(c.kind) == "mjpeg";
        const bool runs = c.frames < 0;
        Playback run = play(fakeCamera(c.kind, "/dev/video7"), jpeg ? "jpegdec !" : "", !runs);
        const bool opens = c.error.find("open device") == std::string::npos;
        EXPECT_EQ(run.started == GST_STATE_CHANGE_FAILURE, !opens) << c.kind;
        if (runs)
            EXPECT_GE(run.frames, 1) << c.kind;
        else
            EXPECT_EQ(run.frames, c.frames) << c.kind;
        EXPECT_EQ(run.error, c.error) << c.kind;
        EXPECT_EQ(run.ended, c.ended) << c.kind;
        EXPECT_GE(run.openSeconds, c.openSeconds) << c.kind;
        if (run.first) {
            EXPECT_EQ(discProblem(run.first), "") << c.kind;
            gst_sample_unref(run.first);
        }
    }
}

TEST(FakeCamera, AMonitorSeesTheLateCameraArriveAndTheDroppedOneGo) {
    setenv("VELMORA_FAKE_CAMERAS", "raw,dropout,late", 1);
    setenv("VELMORA_FAKE_DROPOUT_SECONDS", "0.2", 1);
    setenv("VELMORA_FAKE_LATE_SECONDS", "0.5", 1);
    GstDeviceMonitor* monitor = videoMonitor();
    ASSERT_TRUE(gst_device_monitor_start(monitor));
    const std::vector<std::string> atStart = {"Fake Raw Camera /dev/video0",
                                              "Fake Dropout Camera /dev/video1"};
    EXPECT_EQ(listed(monitor), atStart);
    EXPECT_EQ(nextChange(monitor), "added Fake Raw Camera /dev/video0");
    EXPECT_EQ(nextChange(monitor), "added Fake Dropout Camera /dev/video1");
    EXPECT_EQ(nextChange(monitor), "added Fake Late Camera /dev/video2");

    GList* devices = gst_device_monitor_get_devices(monitor);
    GstDevice* dropout = GST_DEVICE(g_list_nth_data(devices, 1));
    ASSERT_EQ(deviceText(dropout), "Fake Dropout Camera /dev/video1");
    Playback run = play(gst_device_create_element(dropout, nullptr), "", true);
    EXPECT_EQ(run.error, kReadError);
    g_list_free_full(devices, gst_object_unref);
    if (run.first)
        gst_sample_unref(run.first);
    EXPECT_EQ(nextChange(monitor), "removed Fake Dropout Camera /dev/video1");
    Playback again = play(fakeCamera("dropout", "/dev/video1"), "", false);
    EXPECT_EQ(again.error,
              resourceError(GST_RESOURCE_ERROR_OPEN_READ_WRITE, "Cannot open device '/dev/video1'"))
        << "a camera that dropped out cannot be opened again";

    // Gone for good; the late camera stays, whether monitored or probed afresh.
    const std::vector<std::string> after = {"Fake Raw Camera /dev/video0",
                                            "Fake Late Camera /dev/video2"};
    EXPECT_EQ(listed(monitor), after);
    gst_device_monitor_stop(monitor);
    EXPECT_EQ(listed(monitor), after);
    gst_object_unref(monitor);
}

// A script plugs the pluggable camera in by making its file and pulls it out by removing it: a
// monitor sees it come and go, and a run of it ends with a read error when it is pulled out.
TEST(FakeCamera, APluggableCameraComesAndGoesWithItsFile) {
    const std::string plug = "/tmp/velmora-fakecam-plug-" + std::to_string(getpid());
    auto plugIn = [&] { std::ofstream(plug.c_str()).put('\n'); };
    unlink(plug.c_str());
    setenv("VELMORA_FAKE_CAMERAS", "pluggable", 1);
    setenv("VELMORA_FAKE_PLUG_FILE", plug.c_str(), 1);
    GstDeviceMonitor* monitor = videoMonitor();
    EXPECT_EQ(listed(monitor), std::vector<std::string>{}) << "not plugged in: not probed";
    ASSERT_TRUE(gst_device_monitor_start(monitor));
    const std::string camera = "Fake Pluggable Camera /dev/video0";
    plugIn();
    EXPECT_EQ(nextChange(monitor), "added " + camera);
    EXPECT_EQ(listed(monitor), std::vector<std::string>{camera});

    std::thread pullOut([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        unlink(plug.c_str());
    });
    Playback run = play(fakeCamera("pluggable", "/dev/video0"), "", true);
    pullOut.join();
    EXPECT_GE(run.frames, 5) << "frames until it is pulled out";
    EXPECT_EQ(run.error, kReadError);
    if (run.first)
        gst_sample_unref(run.first);
    EXPECT_EQ(nextChange(monitor), "removed " + camera);
    Playback gone = play(fakeCamera("pluggable", "/dev/video0"), "", false);
    EXPECT_EQ(gone.error,
              resourceError(GST_RESOURCE_ERROR_OPEN_READ_WRITE, "Cannot open device '/dev/video0'"))
        << "a camera pulled out cannot be opened";

    plugIn();
    EXPECT_EQ(nextChange(monitor), "added " + camera) << "plugged in again";
    Playback back = play(fakeCamera("pluggable", "/dev/video0"), "", false);
    EXPECT_EQ(back.frames, 1) << back.error;
    if (back.first)
        gst_sample_unref(back.first);
    gst_device_monitor_stop(monitor);
    gst_object_unref(monitor);
    unlink(plug.c_str());
    unsetenv("VELMORA_FAKE_PLUG_FILE");
}

} // namespace
