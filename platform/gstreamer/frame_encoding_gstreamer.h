// What the encoders of the pictures and the clips share. The few buffers of read-back pixels
// that a frame pass hands to a thread of its own for GStreamer to encode (the pictures' writer,
// a clip's encoder): claimed and filled in the pass, handed over, taken up by the thread in the
// order they were handed over, wrapped without a copy, and free again once GStreamer lets go of
// them, so that the pass neither allocates nor waits. And the making of an encoder's pipeline.
#pragma once

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Bytes a pixel as read back: B, G, R and one unused.
const int kReadBytesPerPixel = 4;

enum class BufferState {
    free,     // ready to be claimed
    claimed,  // being filled in a frame pass
    waiting,  // handed over, not yet taken up by the thread
    encoding, // in GStreamer, until it lets go of it
};

struct PixelBuffer {
    uint8_t* pixels = nullptr; // width x height x 4 bytes, bottom row first as read back
    BufferState state = BufferState::free;
    int64_t time = 0;           // when it was handed over, in the owner's units
    uint64_t order = 0;         // the how-manieth handed over, so they are taken up in turn
    std::mutex* lock = nullptr; // the owner's lock, which guards state
};

// The rest is called with the buffers' lock held, except wrapPixels and flipRows.

// The first free one of count buffers, now claimed; null when none is free.
PixelBuffer* claimFree(PixelBuffer* buffers, int count);

// The claimed buffer with these pixels, now waiting with its time and order; null when none is.
PixelBuffer* handOver(PixelBuffer* buffers, int count, const uint8_t* pixels, int64_t time,
                      uint64_t order);

// The buffer handed over first of those that wait, or null.
PixelBuffer* nextWaiting(PixelBuffer* buffers, int count);

// The buffer's size bytes as a GstBuffer, not copied; the buffer is set free, under its lock,
// once GStreamer is done with them (on whichever thread that happens).
GstBuffer* wrapPixels(PixelBuffer& buffer, size_t size);

// OpenGL reads the bottom row first; a picture or a video frame starts at the top. Turns the
// width x height pixels over in place; row is scratch space, sized here.
void flipRows(uint8_t* pixels, int width, int height, std::vector<uint8_t>& row);

// The pipeline of description, or null with failure set to why, in words: "the what cannot be
// made (GStreamer's reason; elements come with gstreamer1.0-plugins-good)".
GstElement* makeEncoderPipeline(const char* description, const char* what, const char* elements,
                                std::string& failure);
