#include "platform/picture_file.h"

#include "platform/picture_folder.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Pictures that may wait to be written at once; a press past them is refused.
const int kBuffers = 3;
const GstClockTime kEncodeTimeout = 5 * GST_SECOND;
const int kBytesPerPixel = 4;

enum class BufferState {
    free,    // ready to be claimed
    claimed, // being filled in a frame pass
    waiting, // handed over, not yet taken up by the writer
    writing, // being encoded and written
};

struct PictureBuffer {
    uint8_t* pixels = nullptr; // readWidth x readHeight x 4 bytes, bottom row first
    BufferState state = BufferState::free;
    std::time_t taken = 0; // when it was handed over, seconds of the wall clock
    uint64_t order = 0;    // the how-manieth handed over, so they are written in turn
};

struct PictureWriter {
    std::mutex lock;
    std::condition_variable handedOver; // a buffer waits to be written
    std::condition_variable written;    // a buffer was written and is free again
    PictureBuffer buffers[kBuffers];
    uint64_t count = 0;                // buffers handed over so far
    int readWidth = 0, readHeight = 0; // pixels as read back
    int pngWidth = 0, pngHeight = 0;   // pixels of the PNG
};

// Made once at start-up and never released, so that the writer thread may outlive main.
PictureWriter* writer = nullptr;

size_t pictureBytes(const PictureWriter& w) {
    return static_cast<size_t>(w.readWidth) * w.readHeight * kBytesPerPixel;
}

// OpenGL reads the bottom row first; a picture file starts at the top.
void flipRows(uint8_t* pixels, int width, int height, std::vector<uint8_t>& row) {
    const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
    row.resize(rowBytes);
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = pixels + top * rowBytes;
        uint8_t* b = pixels + bottom * rowBytes;
        std::memcpy(row.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, row.data(), rowBytes);
    }
}

// The picture as a PNG made by GStreamer's encoder (pngenc), scaled to the PNG's size; null with
// error set when it cannot be made.
GstSample* encodePng(const PictureWriter& w, uint8_t* pixels, GError** error) {
    GstCaps* from = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                                        G_TYPE_INT, w.readWidth, "height", G_TYPE_INT, w.readHeight,
                                        "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
    GstCaps* to = gst_caps_new_simple("image/png", "width", G_TYPE_INT, w.pngWidth, "height",
                                      G_TYPE_INT, w.pngHeight, nullptr);
    const size_t size = pictureBytes(w);
    GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, pixels, size, 0, size,
                                                    nullptr, nullptr);
    GstSample* raw = gst_sample_new(buffer, from, nullptr, nullptr);
    GstSample* png = gst_video_convert_sample(raw, to, kEncodeTimeout, error);
    gst_sample_unref(raw);
    gst_buffer_unref(buffer);
    gst_caps_unref(to);
    gst_caps_unref(from);
    return png;
}

// Encodes one picture and writes it to the pictures folder, then says where, or why not.
void writeOne(const PictureWriter& w, PictureBuffer& picture, std::vector<uint8_t>& row) {
    flipRows(picture.pixels, w.readWidth, w.readHeight, row);
    GError* error = nullptr;
    GstSample* png = encodePng(w, picture.pixels, &error);
    GstBuffer* encoded = png ? gst_sample_get_buffer(png) : nullptr;
    GstMapInfo map{};
    std::string path, failure = "velmora: cannot save a picture: the PNG encoder failed";
    if (error)
        failure = std::string("velmora: cannot save a picture: ") + error->message;
    std::tm taken{};
    localtime_r(&picture.taken, &taken);
    const bool saved = encoded && gst_buffer_map(encoded, &map, GST_MAP_READ) &&
                       savePictureBytes(picturesFolder(), taken, map.data, map.size, path, failure);
    if (map.data)
        gst_buffer_unmap(encoded, &map);
    if (png)
        gst_sample_unref(png);
    if (error)
        g_error_free(error);
    if (saved) {
        std::printf("velmora: saved %s\n", path.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", failure.c_str());
    }
}

// The buffer handed over first of those that wait, or null.
PictureBuffer* nextWaiting(PictureWriter& w) {
    PictureBuffer* next = nullptr;
    for (PictureBuffer& b : w.buffers)
        if (b.state == BufferState::waiting && (!next || b.order < next->order))
            next = &b;
    return next;
}

// The writer thread: writes the buffers in the order they were handed over, for ever.
void writePictures(PictureWriter* w) {
    std::vector<uint8_t> row;
    for (;;) {
        PictureBuffer* picture = nullptr;
        {
            std::unique_lock<std::mutex> hold(w->lock);
            w->handedOver.wait(hold, [&] { return (picture = nextWaiting(*w)) != nullptr; });
            picture->state = BufferState::writing;
        }
        writeOne(*w, *picture, row);
        std::lock_guard<std::mutex> hold(w->lock);
        picture->state = BufferState::free;
        w->written.notify_all();
    }
}

bool busy(const PictureWriter& w) {
    for (const PictureBuffer& b : w.buffers)
        if (b.state == BufferState::waiting || b.state == BufferState::writing)
            return true;
    return false;
}

} // namespace

void startPictureFiles(int readWidth, int readHeight, int pngWidth, int pngHeight) {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        // Without GStreamer no picture can be encoded; claimPictureBuffer then says so.
        if (error)
            g_error_free(error);
        return;
    }
    writer = new PictureWriter;
    writer->readWidth = readWidth;
    writer->readHeight = readHeight;
    writer->pngWidth = pngWidth;
    writer->pngHeight = pngHeight;
    for (PictureBuffer& b : writer->buffers)
        b.pixels = new uint8_t[pictureBytes(*writer)];
    std::thread(writePictures, writer).detach();
}

uint8_t* claimPictureBuffer() {
    if (!writer) {
        std::fprintf(stderr, "velmora: cannot save a picture: GStreamer could not be started\n");
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(writer->lock);
    for (PictureBuffer& b : writer->buffers) {
        if (b.state == BufferState::free) {
            b.state = BufferState::claimed;
            return b.pixels;
        }
    }
    std::fprintf(stderr, "velmora: still writing %d pictures; this one was not taken\n", kBuffers);
    return nullptr;
}

void writePictureFile(uint8_t* pixels) {
    std::lock_guard<std::mutex> hold(writer->lock);
    for (PictureBuffer& b : writer->buffers) {
        if (b.pixels == pixels && b.state == BufferState::claimed) {
            b.taken = std::time(nullptr);
            b.order = ++writer->count;
            b.state = BufferState::waiting;
            writer->handedOver.notify_one();
        }
    }
}

void finishPictureFiles(double seconds) {
    if (!writer)
        return;
    std::unique_lock<std::mutex> hold(writer->lock);
    writer->written.wait_for(hold, std::chrono::duration<double>(seconds),
                             [] { return !busy(*writer); });
}
