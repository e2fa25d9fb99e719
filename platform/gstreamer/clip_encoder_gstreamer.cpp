#include "platform/gstreamer/clip_encoder_gstreamer.h"

#include "platform/gstreamer/frame_encoding_gstreamer.h"

#include <gst/app/gstappsrc.h>

#include <cerrno>
#include <cstring>
#include <unistd.h>

const char kClipEncoderSettings[] = "deadline=1 cpu-used=16 threads=1 end-usage=vbr "
                                    "target-bitrate=4000000 max-quantizer=48 keyframe-max-dist=60";

namespace {

// The frames come at real times, up to 30 a second but not evenly, so the stream has no fixed
// rate (0/1) and the encoder counts time in milliseconds rather than in frames.
const char kPipelineStart[] = "appsrc name=source is-live=true format=time do-timestamp=false "
                              "! videoconvert ! videoscale ! capsfilter name=size "
                              "! vp8enc timebase=1/1000 ";
const char kPipelineEnd[] = " ! webmmux ! fdsink name=sink";

// The reason of an error message, in words: what the file system said for a failed write (as
// "No space left on device"), else GStreamer's own message. Sets writing when it was the file's.
std::string errorWords(GstMessage* message, bool& writing) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string why = error ? error->message : "an unknown error";
    writing = error && error->domain == GST_RESOURCE_ERROR;
    if (error && g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT)) {
        why = std::strerror(ENOSPC);
    } else if (error && error->domain == GST_RESOURCE_ERROR && debug) {
        // The sink's details end with the system's words: "...file descriptor 12: File too large".
        const char* last = std::strrchr(debug, ':');
        if (std::strstr(debug, "Error while writing") && last && last[1] == ' ')
            why = last + 2;
    }
    if (error)
        g_error_free(error);
    g_free(debug);
    return why;
}

// Called by GStreamer on the thread that posts each message: notes the end of stream and the
// first error, and drops every message, so that none piles up on the bus. A dropped message is
// the handler's to let go of: each one holds its element, and one kept would keep the whole
// pipeline, its bus's sockets and the encoder's memory alive after the clip.
GstBusSyncReply noteMessage(GstBus*, GstMessage* message, gpointer data) {
    ClipEncoder& encoder = *static_cast<ClipEncoder*>(data);
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_EOS && type != GST_MESSAGE_ERROR) {
        gst_message_unref(message);
        return GST_BUS_DROP;
    }
    bool writing = false;
    const std::string why = type == GST_MESSAGE_ERROR ? errorWords(message, writing) : "";
    std::lock_guard<std::mutex> hold(*encoder.lock);
    if (type == GST_MESSAGE_EOS) {
        encoder.finished = true;
    } else if (!encoder.failed) {
        encoder.failed = true;
        encoder.writeFailed = writing;
        encoder.failure = why;
    }
    encoder.changed->notify_all();
    gst_message_unref(message);
    return GST_BUS_DROP;
}

// Called by GStreamer for every buffer the muxer hands to the file: those of a frame carry its
// time and duration.
GstPadProbeReturn noteWritten(GstPad*, GstPadProbeInfo* info, gpointer data) {
    ClipEncoder& encoder = *static_cast<ClipEncoder*>(data);
    const GstBuffer* written = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(written) && GST_BUFFER_DURATION_IS_VALID(written)) {
        const int64_t end =
            static_cast<int64_t>(GST_BUFFER_PTS(written) + GST_BUFFER_DURATION(written));
        if (end > encoder.writtenNs)
            encoder.writtenNs = end;
    }
    return GST_PAD_PROBE_OK;
}

void setCaps(ClipEncoder& encoder, int readWidth, int readHeight, int clipWidth, int clipHeight) {
    GstCaps* from = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                        G_TYPE_INT, readWidth, "height", G_TYPE_INT, readHeight,
                                        "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
    GstCaps* to =
        gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, clipWidth, "height", G_TYPE_INT,
                            clipHeight, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(encoder.source), from);
    GstElement* size = gst_bin_get_by_name(GST_BIN(encoder.pipeline), "size");
    g_object_set(size, "caps", to, nullptr);
    gst_object_unref(size);
    gst_caps_unref(from);
    gst_caps_unref(to);
}

// Writes into fd, and watches what reaches it.
void setSink(ClipEncoder& encoder, int fd) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(encoder.pipeline), "sink");
    g_object_set(sink, "fd", fd, nullptr);
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, noteWritten, &encoder, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    GstBus* bus = gst_element_get_bus(encoder.pipeline);
    gst_bus_set_sync_handler(bus, noteMessage, &encoder, nullptr);
    gst_object_unref(bus);
}

// The EBML (Matroska, WebM) element ids of the way to the duration, and its size as a float.
const uint64_t kEbmlHeader = 0x1A45DFA3, kSegment = 0x18538067, kInfo = 0x1549A966;
const uint64_t kTimecodeScale = 0x2AD7B1, kDuration = 0x4489;
const uint64_t kDoubleBytes = 8;

// Reads the variable-length number at bytes[at] (an element's id, kept whole, or its size, without
// its length marker) and moves at past it; false when it runs past size.
bool readNumber(const uint8_t* bytes, size_t size, size_t& at, uint64_t& value, bool id) {
    if (at >= size)
        return false;
    size_t length = 1;
    while (length <= 8 && !(bytes[at] & (0x80 >> (length - 1))))
        ++length;
    if (length > 8 || at + length > size)
        return false;
    value = id ? bytes[at] : bytes[at] & (0xFF >> length);
    for (size_t i = 1; i < length; ++i)
        value = value << 8 | bytes[at + i];
    at += length;
    return true;
}

// The unsigned number of length bytes, most significant first.
uint64_t bigEndian(const uint8_t* bytes, uint64_t length) {
    uint64_t value = 0;
    for (uint64_t i = 0; i < length; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// Reads the element at bytes[at]: its id and size, with at moved to its content.
bool readElement(const uint8_t* bytes, size_t size, size_t& at, uint64_t& id, uint64_t& length) {
    return readNumber(bytes, size, at, id, true) && readNumber(bytes, size, at, length, false);
}

} // namespace

bool writeClipLength(int fd, int64_t lengthNs) {
    uint8_t head[4096];
    const ssize_t got = pread(fd, head, sizeof head, 0);
    const size_t size = got > 0 ? static_cast<size_t>(got) : 0;
    size_t at = 0;
    uint64_t id = 0, length = 0;
    if (!readElement(head, size, at, id, length) || id != kEbmlHeader)
        return false;
    at += length;
    if (!readElement(head, size, at, id, length) || id != kSegment)
        return false;
    // The segment's elements up to its info (the segment's size is not known yet), then the
    // info's own.
    while (readElement(head, size, at, id, length) && id != kInfo)
        at += length;
    size_t durationAt = 0;
    double scale = 1e6; // ns a tick of the duration, unless the info says otherwise
    for (const size_t end = id == kInfo ? at + length : at;
         at < end && readElement(head, size, at, id, length); at += length) {
        if (id == kDuration && length == kDoubleBytes && at + length <= size)
            durationAt = at;
        if (id == kTimecodeScale && length <= 8 && at + length <= size)
            scale = static_cast<double>(bigEndian(head + at, length));
    }
    if (!durationAt)
        return false;
    const double ticks = static_cast<double>(lengthNs) / scale;
    uint64_t bits = 0;
    std::memcpy(&bits, &ticks, sizeof bits);
    uint8_t value[kDoubleBytes];
    for (size_t i = 0; i < kDoubleBytes; ++i)
        value[i] = static_cast<uint8_t>(bits >> (8 * (kDoubleBytes - 1 - i)));
    return pwrite(fd, value, sizeof value, static_cast<off_t>(durationAt)) ==
           static_cast<ssize_t>(sizeof value);
}

bool startClipEncoder(ClipEncoder& encoder, int fd, int readWidth, int readHeight, int clipWidth,
                      int clipHeight, std::string& failure) {
    const std::string description = std::string(kPipelineStart) + encoder.settings + kPipelineEnd;
    encoder.pipeline =
        makeEncoderPipeline(description.c_str(), "VP8 encoder", "vp8enc and webmmux come", failure);
    if (!encoder.pipeline)
        return false;
    encoder.source = gst_bin_get_by_name(GST_BIN(encoder.pipeline), "source");
    setCaps(encoder, readWidth, readHeight, clipWidth, clipHeight);
    setSink(encoder, fd);
    if (gst_element_set_state(encoder.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        std::lock_guard<std::mutex> hold(*encoder.lock);
        failure = encoder.failed ? encoder.failure : "the VP8 encoder does not start";
        return false;
    }
    return true;
}

void pushClipFrame(ClipEncoder& encoder, GstBuffer* frame, int64_t timeNs, int64_t durationNs) {
    GST_BUFFER_PTS(frame) = static_cast<GstClockTime>(timeNs);
    GST_BUFFER_DURATION(frame) = static_cast<GstClockTime>(durationNs);
    // Taken over even when the pipeline has stopped on an error; the frame is then let go.
    gst_app_src_push_buffer(GST_APP_SRC(encoder.source), frame);
}

void endClip(ClipEncoder& encoder) {
    gst_app_src_end_of_stream(GST_APP_SRC(encoder.source));
}

void stopClipEncoder(ClipEncoder& encoder) {
    if (!encoder.pipeline)
        return;
    gst_element_set_state(encoder.pipeline, GST_STATE_NULL);
    gst_object_unref(encoder.source);
    gst_object_unref(encoder.pipeline);
    encoder.pipeline = encoder.source = nullptr;
}
