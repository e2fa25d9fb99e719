// The VP8 encoder and WebM writer of one clip the user records: a GStreamer pipeline (appsrc,
// videoconvert, videoscale, vp8enc, webmmux, fdsink) writing into a file the caller opened. Its
// functions are called by the clip's encoder thread; what GStreamer reports from its own threads
// (the end of stream reaching the file, an error, the frames written) is noted in the encoder
// under the recording's lock, and the recording's condition variable is notified.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// The encoder's real-time settings, chosen by measurement on two shared cores (see
// docs/PERFORMANCE.md): libvpx's real-time mode at its fastest speed, on one thread (its worker
// threads wait by spinning, which on two busy cores cost twenty times the time), a variable
// bit rate of about 4 Mbit/s that may rise where the dots fly rather than let the picture go to
// blocks, and a key frame at least every 60 frames, two seconds, for seeking.
extern const char kClipEncoderSettings[];

struct ClipEncoder {
    const char* settings = kClipEncoderSettings; // vp8enc's, as gst-launch-1.0 writes them
    GstElement* pipeline = nullptr;              // null until started, and again once stopped
    GstElement* source = nullptr;                // the appsrc the frames go into
    std::mutex* lock = nullptr;                  // the recording's, guarding the four fields below
    std::condition_variable* changed = nullptr;  // notified when one of them changes
    bool finished = false;             // the end of stream reached the file: the clip is whole
    bool failed = false;               // the pipeline stopped on an error; nothing more is written
    bool writeFailed = false;          // that error was the file's (a full disk), not the encoder's
    std::string failure;               // the first error, in words, when failed
    std::atomic<int64_t> writtenNs{0}; // the end of the last frame handed to the file, ns
};

// Makes the pipeline for frames of readWidth x readHeight pixels (4 bytes a pixel, B, G, R and one
// unused, top row first), scaled to clipWidth x clipHeight, written into fd (left open), and sets
// it playing. False with failure set to the reason, in words, when it cannot be made or started.
bool startClipEncoder(ClipEncoder& encoder, int fd, int readWidth, int readHeight, int clipWidth,
                      int clipHeight, std::string& failure);

// Pushes one frame, taken over, with its time and duration in ns from the clip's start. Does not
// wait for the encoding.
void pushClipFrame(ClipEncoder& encoder, GstBuffer* frame, int64_t timeNs, int64_t durationNs);

// The end of stream, after the last frame: the muxer finishes the file; finished is set once
// the end reaches it.
void endClip(ClipEncoder& encoder);

// Stops the pipeline and lets go of it, and so of every frame it held. The file stays open.
void stopClipEncoder(ClipEncoder& encoder);

// After a clip the muxer could not finish (the disk filled, or its end did not come in time):
// writes its length, ns, into the duration the muxer left at 0 in the file's WebM header (bytes
// already there, so it needs no more room), so that players show how long it is. False when the
// header has no such duration.
bool writeClipLength(int fd, int64_t lengthNs);
