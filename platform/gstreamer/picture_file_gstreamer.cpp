#include "platform/picture_file.h"

#include "platform/gstreamer/picture_encoder_gstreamer.h"
#include "platform/kept_files.h"

#include <gst/gst.h>

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

struct PictureWriter {
    std::mutex lock;
    std::condition_variable handedOver; // a buffer waits to be written
    std::condition_variable written;    // a picture was written, or could not be
    PixelBuffer buffers[kBuffers];      // time: when handed over, seconds of the wall clock
    uint64_t count = 0;                 // buffers handed over so far
    int unfinished = 0;                 // pictures handed over and not yet written or given up
    PictureEncoder encoder;             // the writer thread's alone
};

// Made once at start-up and never released, so that the writer thread may outlive main.
PictureWriter* writer = nullptr;

// Writes an encoded picture to the pictures folder, then says where, or why not.
void savePng(GstSample* png, std::time_t when) {
    std::tm taken{};
    localtime_r(&when, &taken);
    GstBuffer* encoded = gst_sample_get_buffer(png);
    GstMapInfo map{};
    if (!encoded || !gst_buffer_map(encoded, &map, GST_MAP_READ)) {
        std::fprintf(stderr, "velmora: cannot save a picture: the PNG encoder gave none\n");
        return;
    }
    std::string path, failure;
    const bool saved =
        savePictureBytes(keptFolder(KeptKind::picture), taken, map.data, map.size, path, failure);
    gst_buffer_unmap(encoded, &map);
    if (saved) {
        std::printf("velmora: saved %s\n", path.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", failure.c_str());
    }
}

// Encodes one picture and saves it.
void writeOne(PictureEncoder& encoder, PixelBuffer& picture, std::vector<uint8_t>& row) {
    const std::time_t taken = picture.time; // the buffer may be claimed again once encoded
    flipRows(picture.pixels, encoder.readWidth, encoder.readHeight, row);
    std::string failure;
    GstSample* png = encodePng(encoder, wrapPixels(picture, pictureBytes(encoder)), failure);
    if (!png) {
        std::fprintf(stderr, "velmora: cannot save a picture: %s\n", failure.c_str());
        return;
    }
    savePng(png, taken);
    gst_sample_unref(png);
}

// The writer thread: writes the buffers in the order they were handed over, for ever.
void writePictures(PictureWriter* w) {
    std::vector<uint8_t> row;
    for (;;) {
        PixelBuffer* picture = nullptr;
        {
            std::unique_lock<std::mutex> hold(w->lock);
            w->handedOver.wait(
                hold, [&] { return (picture = nextWaiting(w->buffers, kBuffers)) != nullptr; });
            picture->state = BufferState::encoding;
        }
        writeOne(w->encoder, *picture, row);
        std::lock_guard<std::mutex> hold(w->lock);
        --w->unfinished;
        w->written.notify_all();
    }
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
    writer->encoder.readWidth = readWidth;
    writer->encoder.readHeight = readHeight;
    writer->encoder.pngWidth = pngWidth;
    writer->encoder.pngHeight = pngHeight;
    for (PixelBuffer& b : writer->buffers) {
        b.pixels = new uint8_t[pictureBytes(writer->encoder)];
        b.lock = &writer->lock;
    }
    std::thread(writePictures, writer).detach();
}

uint8_t* claimPictureBuffer() {
    if (!writer) {
        std::fprintf(stderr, "velmora: cannot save a picture: GStreamer could not be started\n");
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(writer->lock);
    if (PixelBuffer* free = claimFree(writer->buffers, kBuffers))
        return free->pixels;
    std::fprintf(stderr, "velmora: still writing %d pictures; this one was not taken\n", kBuffers);
    return nullptr;
}

void writePictureFile(uint8_t* pixels) {
    std::lock_guard<std::mutex> hold(writer->lock);
    if (handOver(writer->buffers, kBuffers, pixels, std::time(nullptr), writer->count + 1)) {
        ++writer->count;
        ++writer->unfinished;
        writer->handedOver.notify_one();
    }
}

void finishPictureFiles(double seconds) {
    if (!writer)
        return;
    std::unique_lock<std::mutex> hold(writer->lock);
    writer->written.wait_for(hold, std::chrono::duration<double>(seconds),
                             [] { return writer->unfinished == 0; });
}
