// The capture layer's own thread: it watches GStreamer's device monitor for cameras plugged in,
// out and changed, and steps every running fallback a few times a second, so that nothing the
// cameras do ever holds up the program's own thread.
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace capture {

namespace {

// How long the thread waits for news of a camera between two looks at the sources.
const GstClockTime kStepInterval = 50 * GST_MSECOND;

struct Watch {
    std::mutex lock;
    GstDeviceMonitor* monitor = nullptr; // started once, its providers stopped at exit
    std::vector<std::shared_ptr<SourceFallback>> fallbacks; // guarded by lock
    std::thread thread;
    bool quitting = false; // guarded by lock
};

// Process-wide, never destroyed: it must outlive the static destructors that run at exit.
Watch& watch() {
    static auto* one = new Watch;
    return *one;
}

GstDeviceMonitor* monitor() {
    Watch& w = watch();
    std::lock_guard<std::mutex> hold(w.lock);
    if (!w.monitor) {
        w.monitor = gst_device_monitor_new();
        gst_device_monitor_add_filter(w.monitor, "Video/Source", nullptr);
        // Without a provider that can watch, the monitor still lists what it probes.
        gst_device_monitor_start(w.monitor);
    }
    return w.monitor;
}

// Takes in one message of the monitor's bus. Only the three kinds about devices are taken;
// extended message types are numbers, not bits, so no mask can pick them out.
void takeMessage(GstMessage* message, DeviceNews& news) {
    GstDevice* device = nullptr;
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_DEVICE_ADDED:
        gst_message_parse_device_added(message, &device);
        if (canCapture(device))
            news.added.push_back(cameraSource(device));
        gst_object_unref(device);
        break;
    case GST_MESSAGE_DEVICE_REMOVED:
        gst_message_parse_device_removed(message, &device);
        news.removed.push_back(device);
        break;
    case GST_MESSAGE_DEVICE_CHANGED: {
        GstDevice* old = nullptr;
        gst_message_parse_device_changed(message, &device, &old);
        news.changed.emplace_back(old, device);
        break;
    }
    default:
        break;
    }
}

// What the monitor said since the last look, waiting up to one step for the first message.
void takeNews(DeviceNews& news) {
    GstBus* bus = gst_device_monitor_get_bus(monitor());
    GstClockTime wait = kStepInterval;
    while (GstMessage* message = gst_bus_timed_pop(bus, wait)) {
        wait = 0;
        takeMessage(message, news);
        gst_message_unref(message);
    }
    gst_object_unref(bus);
}

void run() {
    Watch& w = watch();
    for (;;) {
        DeviceNews news;
        takeNews(news);
        std::lock_guard<std::mutex> hold(w.lock);
        if (w.quitting)
            break;
        const gint64 now = g_get_monotonic_time();
        for (const std::shared_ptr<SourceFallback>& fallback : w.fallbacks)
            fallback->step(now, news);
    }
}

// The device monitor's providers stop, all but PipeWire's: stopping that one before PipeWire
// 0.3.73 (Debian 12) races with its own thread and crashes the exit about every third time, even
// without a camera. Left running, it ends with the process.
void stopProviders(GstDeviceMonitor* monitor) {
    gchar** names = gst_device_monitor_get_providers(monitor);
    for (gchar** name = names; name && *name; ++name) {
        GstDeviceProvider* provider = g_strcmp0(*name, "pipewiredeviceprovider") == 0
                                          ? nullptr
                                          : gst_device_provider_factory_get_by_name(*name);
        if (provider && gst_device_provider_is_started(provider))
            gst_device_provider_stop(provider);
        if (provider)
            gst_object_unref(provider);
    }
    g_strfreev(names);
}

// At exit the thread ends and every source stops before the libraries tear themselves down.
void stopAtExit() {
    Watch& w = watch();
    std::vector<std::shared_ptr<SourceFallback>> left;
    {
        std::lock_guard<std::mutex> hold(w.lock);
        w.quitting = true;
        left = w.fallbacks;
    }
    if (w.thread.joinable())
        w.thread.join();
    for (const std::shared_ptr<SourceFallback>& fallback : left)
        fallback->stop();
    if (w.monitor)
        stopProviders(w.monitor);
}

} // namespace

void supervise(std::shared_ptr<SourceFallback> fallback) {
    monitor();
    Watch& w = watch();
    std::lock_guard<std::mutex> hold(w.lock);
    if (w.quitting)
        return;
    w.fallbacks.push_back(std::move(fallback));
    if (!w.thread.joinable()) {
        std::atexit(stopAtExit);
        w.thread = std::thread(run);
    }
}

void stopSupervising(const SourceFallback* fallback) {
    Watch& w = watch();
    std::lock_guard<std::mutex> hold(w.lock);
    w.fallbacks.erase(std::remove_if(w.fallbacks.begin(), w.fallbacks.end(),
                                     [fallback](const std::shared_ptr<SourceFallback>& f) {
                                         return f.get() == fallback;
                                     }),
                      w.fallbacks.end());
}

std::vector<GstDevice*> listCameras() {
    std::vector<GstDevice*> colour;
    std::vector<GstDevice*> grey; // infra-red cameras, for face login: after those in colour
    GList* devices = gst_device_monitor_get_devices(monitor());
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (canCapture(device))
            (offersGreyOnly(device) ? grey : colour).push_back(GST_DEVICE(gst_object_ref(device)));
    }
    g_list_free_full(devices, gst_object_unref);
    colour.insert(colour.end(), grey.begin(), grey.end());
    return colour;
}

} // namespace capture
