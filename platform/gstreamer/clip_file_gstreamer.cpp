#include "platform/clip_file.h"

#include "platform/gstreamer/clip_encoder_gstreamer.h"
#include "platform/gstreamer/frame_encoding_gstreamer.h"
#include "platform/kept_files.h"

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Frames that may wait for the encoder at once: about a tenth of a second at 30 a second. A frame
// due while the encoder holds all of them is dropped.
const int kBuffers = 4;
// The first frame's duration until the next one shows the spacing: a 30th of a second.
const int64_t kFirstFrameNs = 1000000000 / 30;

struct Recording {
    std::mutex lock;
    std::condition_variable changed; // a frame was handed over, R stopped it, GStreamer reported
    PixelBuffer buffers[kBuffers];   // time: when read back, ns of the monotonic clock
    uint64_t handedOver = 0;         // frames handed over so far
    int dropped = 0;                 // frames due while the encoder held every buffer
    bool stopAsked = false;          // R again, or the end of the process
    bool over = false;               // stopped by itself (said on standard error): no more frames
    ClipEncoder encoder;             // its reports are guarded by lock

    // Fixed at the start.
    int readWidth = 0, readHeight = 0; // pixels of a frame as read back
    int clipWidth = 0, clipHeight = 0; // pixels of a frame in the clip
    int fd = -1;                       // the temporary file, written by the encoder
    std::string folder, temporary;
    std::tm started{}; // local time of the start, which names the clip

    size_t frameBytes() const {
        return static_cast<size_t>(readWidth) * readHeight * kReadBytesPerPixel;
    }
    ~Recording() {
        // A frame GStreamer still holds (after an end that did not come in time) is left to it.
        for (PixelBuffer& b : buffers)
            if (b.state != BufferState::encoding)
                delete[] b.pixels;
    }
};

// The clips not yet finished, by their temporary files: made at the first recording and never
// released, so that an encoder thread may outlive main.
struct Unfinished {
    std::mutex lock;
    std::condition_variable finished; // a clip was finished, or given up
    std::vector<std::string> temporaries;
};
Unfinished* unfinished = nullptr;

// The recording that takes frames now, if any; the frame pass's alone.
std::shared_ptr<Recording> current;

// What the encoder thread pushed.
struct Pushed {
    int frames = 0;
    int64_t firstNs = 0; // when the first frame was read back
    int64_t lastNs = 0;  // when the last one was
};

// Pushes one frame, its rows turned top first, stamped with its time from the clip's start and
// the spacing from the frame before as its duration.
void pushFrame(Recording& r, PixelBuffer& frame, Pushed& pushed, std::vector<uint8_t>& row) {
    flipRows(frame.pixels, r.readWidth, r.readHeight, row);
    if (pushed.frames++ == 0) {
        pushed.firstNs = frame.time;
        pushed.lastNs = frame.time - kFirstFrameNs;
    }
    pushClipFrame(r.encoder, wrapPixels(frame, r.frameBytes()), frame.time - pushed.firstNs,
                  frame.time - pushed.lastNs);
    pushed.lastNs = frame.time;
}

// Pushes the frames in the order they were handed over until R stops the recording and every
// frame handed over is pushed, or the pipeline fails.
void encodeFrames(Recording& r) {
    std::vector<uint8_t> row;
    Pushed pushed;
    for (;;) {
        PixelBuffer* frame = nullptr;
        {
            std::unique_lock<std::mutex> hold(r.lock);
            r.changed.wait(hold, [&] {
                frame = nextWaiting(r.buffers, kBuffers);
                return frame || r.stopAsked || r.encoder.failed;
            });
            // After a failure the frame pass is told at once to take no more frames.
            r.over = r.encoder.failed;
            if (r.encoder.failed || !frame)
                return;
            frame->state = BufferState::encoding;
        }
        pushFrame(r, *frame, pushed, row);
    }
}

// Gives the muxer its end of stream and waits, at most kClipEndSeconds, until it reaches the file
// or the pipeline fails; true when the file was finished.
bool endStream(Recording& r) {
    endClip(r.encoder);
    std::unique_lock<std::mutex> hold(r.lock);
    return r.changed.wait_for(hold, std::chrono::duration<double>(kClipEndSeconds), [&] {
        return r.encoder.finished || r.encoder.failed;
    }) && r.encoder.finished;
}

// Makes the written clip reach the disk and gives it its name; says where, how long it lasts and
// how many frames were dropped, or why it cannot be kept. A clip without a frame is removed, said
// unless the failure that stopped it was.
void keepClip(Recording& r, bool failed, bool ended) {
    // The length the muxer could not write.
    if (!ended && r.encoder.writtenNs > 0)
        writeClipLength(r.fd, r.encoder.writtenNs);
    const bool synced = fsync(r.fd) == 0;
    if (!synced && !failed)
        std::perror(("velmora: cannot write the clip in " + r.folder).c_str());
    close(r.fd);
    if (r.encoder.writtenNs <= 0) {
        unlink(r.temporary.c_str());
        if (!failed)
            std::fprintf(stderr, "velmora: no clip was kept: no frame was recorded\n");
        return;
    }
    std::string path, failure;
    if (!nameKeptFile(r.folder, KeptKind::clip, r.started, r.temporary, path, failure)) {
        std::fprintf(stderr, "%s; the clip is left as %s\n", failure.c_str(), r.temporary.c_str());
        return;
    }
    const double seconds = static_cast<double>(r.encoder.writtenNs) / 1e9;
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.dropped > 0)
        std::printf("velmora: saved %s (%.1f s, %d frame%s dropped)\n", path.c_str(), seconds,
                    r.dropped, r.dropped == 1 ? "" : "s");
    else
        std::printf("velmora: saved %s (%.1f s)\n", path.c_str(), seconds);
    std::fflush(stdout);
}

// Says why the recording stopped by itself, or that its end did not come in time.
void sayEnd(const Recording& r, bool started, bool ended, const std::string& failure) {
    if (!started)
        std::fprintf(stderr, "velmora: cannot record a clip: %s\n", failure.c_str());
    else if (r.encoder.failed && r.encoder.writeFailed)
        std::fprintf(stderr, "velmora: the recording stopped: cannot write the clip in %s: %s\n",
                     r.folder.c_str(), r.encoder.failure.c_str());
    else if (r.encoder.failed)
        std::fprintf(stderr, "velmora: the recording stopped: the VP8 encoder failed: %s\n",
                     r.encoder.failure.c_str());
    else if (!ended)
        std::fprintf(stderr, "velmora: the clip's end was not written within %.0f s\n",
                     kClipEndSeconds);
}

// The encoder thread of one recording: starts the encoder, pushes the frames until R stops the
// recording or the file cannot be written, finishes the file and keeps it.
void record(std::shared_ptr<Recording> r) {
    std::string failure;
    const bool started = startClipEncoder(r->encoder, r->fd, r->readWidth, r->readHeight,
                                          r->clipWidth, r->clipHeight, failure);
    bool ended = false;
    if (started) {
        encodeFrames(*r);
        ended = endStream(*r);
    }
    stopClipEncoder(r->encoder);
    {
        std::lock_guard<std::mutex> hold(r->lock);
        r->over = true;
    }
    sayEnd(*r, started, ended, failure);
    keepClip(*r, !started || r->encoder.failed, ended);
    std::lock_guard<std::mutex> hold(unfinished->lock);
    std::vector<std::string>& left = unfinished->temporaries;
    left.erase(std::find(left.begin(), left.end(), r->temporary));
    unfinished->finished.notify_all();
}

} // namespace

bool startClip(int readWidth, int readHeight, int clipWidth, int clipHeight) {
    stopClip();
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        std::fprintf(stderr, "velmora: cannot record a clip: GStreamer could not be started (%s)\n",
                     error ? error->message : "no reason given");
        if (error)
            g_error_free(error);
        return false;
    }
    std::shared_ptr<Recording> r = std::make_shared<Recording>();
    r->folder = keptFolder(KeptKind::clip);
    std::string failure;
    r->fd = createKeptTemporary(r->folder, KeptKind::clip, r->temporary, failure);
    if (r->fd < 0) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return false;
    }
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &r->started);
    r->readWidth = readWidth;
    r->readHeight = readHeight;
    r->clipWidth = clipWidth;
    r->clipHeight = clipHeight;
    for (PixelBuffer& b : r->buffers) {
        b.pixels = new uint8_t[r->frameBytes()];
        b.lock = &r->lock;
    }
    r->encoder.lock = &r->lock;
    r->encoder.changed = &r->changed;
    if (!unfinished)
        unfinished = new Unfinished;
    {
        std::lock_guard<std::mutex> hold(unfinished->lock);
        unfinished->temporaries.push_back(r->temporary);
    }
    current = r;
    std::thread(record, r).detach();
    return true;
}

bool clipRecording() {
    if (!current)
        return false;
    std::lock_guard<std::mutex> hold(current->lock);
    return !current->over;
}

uint8_t* claimClipFrame() {
    if (!current)
        return nullptr;
    std::lock_guard<std::mutex> hold(current->lock);
    if (current->over)
        return nullptr;
    if (PixelBuffer* free = claimFree(current->buffers, kBuffers))
        return free->pixels;
    ++current->dropped;
    return nullptr;
}

void writeClipFrame(uint8_t* pixels, int64_t timeNs) {
    if (!current)
        return;
    std::lock_guard<std::mutex> hold(current->lock);
    if (handOver(current->buffers, kBuffers, pixels, timeNs, current->handedOver + 1)) {
        ++current->handedOver;
        current->changed.notify_all();
    }
}

void stopClip() {
    if (!current)
        return;
    {
        std::lock_guard<std::mutex> hold(current->lock);
        current->stopAsked = true;
        current->changed.notify_all();
    }
    current.reset();
}

void finishClips(double seconds) {
    stopClip();
    if (!unfinished)
        return;
    std::unique_lock<std::mutex> hold(unfinished->lock);
    unfinished->finished.wait_for(hold, std::chrono::duration<double>(seconds),
                                  [] { return unfinished->temporaries.empty(); });
    for (const std::string& temporary : unfinished->temporaries)
        std::fprintf(stderr, "velmora: quitting before the clip was finished; it is left as %s\n",
                     temporary.c_str());
}
