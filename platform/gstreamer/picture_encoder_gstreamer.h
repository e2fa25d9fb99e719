// The PNG encoder of the pictures the user keeps: one GStreamer pipeline (appsrc, videoconvert,
// videoscale, pngenc, appsink), made on the writer thread when the first picture comes and kept
// for the next ones, so that a picture costs its conversion and encoding alone. Used by the
// writer thread only.
#pragma once

#include "platform/gstreamer/frame_encoding_gstreamer.h"

#include <gst/gst.h>

#include <cstddef>
#include <string>

struct PictureEncoder {
    GstElement* pipeline = nullptr;    // null until the first picture, and again after a failure
    GstElement* source = nullptr;      // the appsrc the pictures go into
    GstElement* sink = nullptr;        // the appsink the PNGs come out of
    int readWidth = 0, readHeight = 0; // pixels of a picture as read back
    int pngWidth = 0, pngHeight = 0;   // pixels of the PNG
};

// The bytes of one picture as read back.
inline size_t pictureBytes(const PictureEncoder& encoder) {
    return static_cast<size_t>(encoder.readWidth) * encoder.readHeight * kReadBytesPerPixel;
}

// Encodes one picture: pixels (readWidth x readHeight, 4 bytes a pixel, B, G, R and one unused,
// top row first), wrapped, not copied (wrapPixels), and taken over. Returns the PNG, or null with
// failure set to one line saying why.
GstSample* encodePng(PictureEncoder& encoder, GstBuffer* pixels, std::string& failure);
