// A video source opened in a pipeline of its own, which brings its picture to the output's size
// and shape and hands each frame over as it comes.
#include "platform/capture_gstreamer.h"
#include "platform/capture_sources_gstreamer.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

namespace capture {

namespace {

// What a source brings its picture to: the centre part of the output's shape (square pixels),
// scaled to the output's size, in BGR, handed over as it comes.
GstElement* shapingBin(int32_t width, int32_t height, std::string& error) {
    gchar* text = g_strdup_printf(
        "videoconvert ! aspectratiocrop aspect-ratio=%d/%d ! videoscale ! videoconvert ! "
        "capsfilter caps=\"video/x-raw,format=BGR,width=%d,height=%d,pixel-aspect-ratio=1/1\" ! "
        "appsink name=frames sync=true max-buffers=1 drop=true enable-last-sample=false",
        width, height, width, height);
    GstElement* bin = parseBin(text, true, error);
    g_free(text);
    return bin;
}

// A GStreamer error as the end of a sentence about the source, without its own full stop.
std::string describeError(const GError* error, bool delivered) {
    std::string message = error && error->message ? error->message : "unknown error";
    while (!message.empty() && (message.back() == '.' || message.back() == '\n'))
        message.pop_back();
    for (char& c : message)
        if (c == '\n' || c == '\r')
            c = ' ';
    if (delivered)
        return "stopped: " + message;
    if (error && error->domain == GST_RESOURCE_ERROR) {
        if (error->code == GST_RESOURCE_ERROR_BUSY)
            return "is busy";
        if (error->code == GST_RESOURCE_ERROR_NOT_FOUND ||
            error->code == GST_RESOURCE_ERROR_OPEN_READ ||
            error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE ||
            error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
            return "could not be opened: " + message;
    }
    return "failed: " + message;
}

void forgetShared(gpointer data) {
    delete static_cast<std::shared_ptr<OpenSource>*>(data);
}

} // namespace

OpenSource::OpenSource(GstElement* pipeline, GstElement* output)
    : pipeline(pipeline), output(GST_ELEMENT(gst_object_ref(output))),
      opened(g_get_monotonic_time()) {}

OpenSource::~OpenSource() {
    close();
    if (latest)
        gst_sample_unref(latest);
    gst_object_unref(pipeline);
    gst_object_unref(output);
}

std::shared_ptr<OpenSource> OpenSource::open(const VideoSource& video, int32_t width,
                                             int32_t height, GstElement* output,
                                             std::string& error) {
    GstElement* source = sourceBin(video, width, height, error);
    GstElement* shaping = source ? shapingBin(width, height, error) : nullptr;
    if (!shaping) {
        if (source)
            gst_object_unref(source);
        return nullptr;
    }
    GstElement* pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)));
    gst_bin_add_many(GST_BIN(pipeline), source, shaping, nullptr);
    gst_object_unref(source);
    const bool linked = gst_element_link(source, shaping);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(shaping), "frames");
    gst_object_unref(shaping);
    if (!linked || !sink) {
        error = "could not be joined to the picture's shaping";
        if (sink)
            gst_object_unref(sink);
        gst_object_unref(pipeline);
        return nullptr;
    }
    std::shared_ptr<OpenSource> self(new OpenSource(pipeline, output));
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appsink, gpointer data) {
        return takeFrame(GST_ELEMENT(appsink), data);
    };
    // The pipeline stops before the source goes, so the callbacks never outlive it.
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, self.get(), nullptr);
    gst_object_unref(sink);
    // Opening a device may take its time: it happens on one of GStreamer's own threads.
    gst_element_call_async(pipeline, startPlaying, new std::shared_ptr<OpenSource>(self),
                           forgetShared);
    return self;
}

void OpenSource::startPlaying(GstElement* pipeline, gpointer data) {
    OpenSource& self = **static_cast<std::shared_ptr<OpenSource>*>(data);
    std::lock_guard<std::mutex> hold(self.stateLock);
    if (self.closing)
        return;
    const GstStateChangeReturn paused = gst_element_set_state(pipeline, GST_STATE_PAUSED);
    if (paused == GST_STATE_CHANGE_FAILURE) {
        self.startFailed = true;
        return;
    }
    // A live source (a camera) hands each frame over at once; anything else (a file) is held
    // to its own pace.
    if (paused == GST_STATE_CHANGE_NO_PREROLL) {
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "frames");
        g_object_set(sink, "sync", FALSE, nullptr);
        gst_object_unref(sink);
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        self.startFailed = true;
}

GstFlowReturn OpenSource::takeFrame(GstElement* sink, gpointer data) {
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_OK;
    auto& self = *static_cast<OpenSource*>(data);
    gint64 none = 0;
    self.firstFrameAt.compare_exchange_strong(none, g_get_monotonic_time());
    GstSample* replaced = nullptr;
    {
        std::lock_guard<std::mutex> hold(self.frameLock);
        replaced = self.latest;
        self.latest = sample;
        if (self.forwarding)
            self.pushLatest();
    }
    if (replaced)
        gst_sample_unref(replaced);
    return GST_FLOW_OK;
}

void OpenSource::forward(bool on) {
    std::lock_guard<std::mutex> hold(frameLock);
    forwarding = on;
    // The source's newest frame goes at once: it may be a while until the next, or never.
    if (on && latest)
        pushLatest();
}

void OpenSource::pushLatest() {
    // The same pixels, stamped anew by the output when they enter its pipeline.
    GstBuffer* frame = gst_buffer_copy(gst_sample_get_buffer(latest));
    GST_BUFFER_PTS(frame) = GST_BUFFER_DTS(frame) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(output), frame);
}

OpenSource::Event OpenSource::nextEvent(std::string& reason) {
    GstBus* bus = gst_element_get_bus(pipeline);
    Event event = Event::Nothing;
    while (event == Event::Nothing) {
        GstMessage* message = gst_bus_pop(bus);
        if (!message)
            break;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            reason = describeError(error, delivered());
            if (error)
                g_error_free(error);
            event = Event::Failed;
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            event = Event::Ended;
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    // A start that failed without a word from the source.
    if (event == Event::Nothing && startFailed.exchange(false)) {
        reason = "could not be started";
        event = Event::Failed;
    }
    return event;
}

void OpenSource::close() {
    forward(false);
    closing = true;
    // Waits for an opening under way, which then goes no further.
    std::lock_guard<std::mutex> hold(stateLock);
    gst_element_set_state(pipeline, GST_STATE_NULL);
}

} // namespace capture
