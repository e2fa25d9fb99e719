// A video source opened in a pipeline of its own, which decodes its frames where they need it,
// brings its picture to the output's size and shape and hands each frame over as it comes.
#include "platform/gstreamer/capture_gstreamer.h"
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <cerrno>
#include <cstring>

namespace capture {

namespace {

const char kShapingName[] = "velmora-shaping";

// What a source's decoded picture is brought to: the centre part of the output's shape (square
// pixels), scaled to the output's size, in BGR, handed over as it comes. A source that offers
// any format picks its first, often a deep one the cropping cannot take: those are converted to
// an 8-bit one first, the common ones pass as they are.
GstElement* shapingBin(int32_t width, int32_t height, std::string& error) {
    gchar* text = g_strdup_printf(
        "videoconvert ! video/x-raw,format={BGR,RGB,BGRx,RGBx,xRGB,xBGR,BGRA,RGBA,ARGB,ABGR,"
        "I420,YV12,NV12,NV21,YUY2,UYVY,YVYU,Y42B,Y444,GRAY8} ! "
        "aspectratiocrop aspect-ratio=%d/%d ! videoscale ! videoconvert ! "
        "capsfilter caps=\"video/x-raw,format=BGR,width=%d,height=%d,pixel-aspect-ratio=1/1\" ! "
        "appsink name=frames sync=true max-buffers=1 drop=true enable-last-sample=false",
        width, height, width, height);
    GstElement* bin = parseBin(text, true, error);
    g_free(text);
    if (bin)
        gst_object_set_name(GST_OBJECT(bin), kShapingName);
    return bin;
}

// Whether a failure is a device held by another program: said so outright, or as an open that
// failed with the system's "Device or resource busy" (how V4L2 cameras say it).
bool busyDevice(const GError* error, const gchar* debug) {
    if (!error || error->domain != GST_RESOURCE_ERROR)
        return false;
    if (error->code == GST_RESOURCE_ERROR_BUSY)
        return true;
    for (const char* words : {g_strerror(EBUSY), "Device or resource busy"})
        if ((debug && std::strstr(debug, words)) ||
            (error->message && std::strstr(error->message, words)))
            return true;
    return false;
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
    // What a decoder says of data that is no picture at all, or none it knows.
    if (error && error->domain == GST_STREAM_ERROR &&
        (error->code == GST_STREAM_ERROR_WRONG_TYPE ||
         error->code == GST_STREAM_ERROR_TYPE_NOT_FOUND ||
         error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND))
        return "gives no picture: " + message;
    if (error && error->domain == GST_RESOURCE_ERROR) {
        if (error->code == GST_RESOURCE_ERROR_NOT_FOUND ||
            error->code == GST_RESOURCE_ERROR_OPEN_READ ||
            error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE ||
            error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
            return "could not be opened: " + message;
    }
    return "failed: " + message;
}

// The media type of caps, for a message: "audio/x-raw".
std::string mediaOf(GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps))
        return "data of no known type";
    return gst_structure_get_name(gst_caps_get_structure(caps, 0));
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
    // Raw frames pass through it; anything else is decoded by what GStreamer has for it.
    GstElement* decoder = shaping ? gst_element_factory_make("decodebin", nullptr) : nullptr;
    if (shaping && !decoder)
        error = "GStreamer's decodebin is missing";
    if (!decoder) {
        for (GstElement* made : {source, shaping})
            if (made)
                gst_object_unref(made);
        return nullptr;
    }
    GstElement* pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)));
    gst_bin_add_many(GST_BIN(pipeline), source, decoder, shaping, nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(shaping), "frames");
    gst_object_unref(source);
    gst_object_unref(shaping);
    if (!gst_element_link(source, decoder) || !sink) {
        error = "could not be joined to its decoder";
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
    // The pipeline stops before the source goes, so neither the callbacks nor the decoder's
    // signals ever outlive it.
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, self.get(), nullptr);
    gst_object_unref(sink);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(padAdded), self.get());
    g_signal_connect(decoder, "unknown-type", G_CALLBACK(unknownType), self.get());
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(noMorePads), self.get());
    // Opening a device may take its time: it happens on one of GStreamer's own threads.
    gst_element_call_async(pipeline, startPlaying, new std::shared_ptr<OpenSource>(self),
                           forgetShared);
    return self;
}

// The decoder's first picture stream goes to the shaping; any other stream is noted, for the
// message should no picture come.
void OpenSource::padAdded(GstElement*, GstPad* pad, gpointer data) {
    auto& self = *static_cast<OpenSource*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const std::string media = mediaOf(caps);
    GstElement* shaping = gst_bin_get_by_name(GST_BIN(self.pipeline), kShapingName);
    GstPad* sink = gst_element_get_static_pad(shaping, "sink");
    if (media.rfind("video/", 0) == 0 && !gst_pad_is_linked(sink) &&
        gst_pad_link(pad, sink) == GST_PAD_LINK_OK)
        self.pictureFound = true;
    else if (!self.pictureFound)
        self.noteOtherMedia(caps);
    gst_object_unref(sink);
    gst_object_unref(shaping);
    if (caps)
        gst_caps_unref(caps);
}

void OpenSource::unknownType(GstElement*, GstPad*, GstCaps* caps, gpointer data) {
    static_cast<OpenSource*>(data)->noteOtherMedia(caps);
}

void OpenSource::noMorePads(GstElement*, gpointer data) {
    auto& self = *static_cast<OpenSource*>(data);
    if (!self.pictureFound)
        self.noPicture = true;
}

void OpenSource::noteOtherMedia(GstCaps* caps) {
    std::lock_guard<std::mutex> hold(frameLock);
    if (otherMedia.empty())
        otherMedia = mediaOf(caps);
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
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            const bool busy = !delivered() && busyDevice(error, debug);
            reason = busy ? "is busy" : describeError(error, delivered());
            event = busy ? Event::Busy : Event::Failed;
            if (error)
                g_error_free(error);
            g_free(debug);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            event = Event::Ended;
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    // A source whose streams hold no picture says so, whatever else went wrong with it.
    if ((event != Event::Nothing && event != Event::Busy) || noPicture) {
        std::lock_guard<std::mutex> hold(frameLock);
        if (!pictureFound && (noPicture || !otherMedia.empty())) {
            reason = "gives no picture, only " +
                     (otherMedia.empty() ? std::string("streams of no kind") : otherMedia);
            event = Event::Failed;
            noPicture = false;
        }
    }
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
