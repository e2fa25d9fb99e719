#include "platform/gstreamer/frame_encoding_gstreamer.h"

#include <cstring>

namespace {

// Called by GStreamer, on whichever thread, when it no longer needs a buffer's pixels.
void releasePixels(void* data) {
    PixelBuffer* buffer = static_cast<PixelBuffer*>(data);
    std::lock_guard<std::mutex> hold(*buffer->lock);
    buffer->state = BufferState::free;
}

} // namespace

PixelBuffer* claimFree(PixelBuffer* buffers, int count) {
    for (int i = 0; i < count; ++i) {
        if (buffers[i].state == BufferState::free) {
            buffers[i].state = BufferState::claimed;
            return &buffers[i];
        }
    }
    return nullptr;
}

PixelBuffer* handOver(PixelBuffer* buffers, int count, const uint8_t* pixels, int64_t time,
                      uint64_t order) {
    for (int i = 0; i < count; ++i) {
        PixelBuffer& b = buffers[i];
        if (b.pixels == pixels && b.state == BufferState::claimed) {
            b.time = time;
            b.order = order;
            b.state = BufferState::waiting;
            return &b;
        }
    }
    return nullptr;
}

PixelBuffer* nextWaiting(PixelBuffer* buffers, int count) {
    PixelBuffer* next = nullptr;
    for (int i = 0; i < count; ++i)
        if (buffers[i].state == BufferState::waiting && (!next || buffers[i].order < next->order))
            next = &buffers[i];
    return next;
}

GstBuffer* wrapPixels(PixelBuffer& buffer, size_t size) {
    return gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, buffer.pixels, size, 0, size,
                                       &buffer, releasePixels);
}

void flipRows(uint8_t* pixels, int width, int height, std::vector<uint8_t>& row) {
    const size_t rowBytes = static_cast<size_t>(width) * kReadBytesPerPixel;
    row.resize(rowBytes);
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = pixels + top * rowBytes;
        uint8_t* b = pixels + bottom * rowBytes;
        std::memcpy(row.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, row.data(), rowBytes);
    }
}

GstElement* makeEncoderPipeline(const char* description, const char* what, const char* elements,
                                std::string& failure) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description, &error);
    if (pipeline && !error)
        return pipeline;
    failure = std::string("the ") + what + " cannot be made (" +
              (error ? error->message : "no pipeline") + "; " + elements +
              " with gstreamer1.0-plugins-good)";
    if (error)
        g_error_free(error);
    if (pipeline)
        gst_object_unref(pipeline);
    return nullptr;
}
