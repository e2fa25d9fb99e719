// Inside the GStreamer capture layer: the video sources a capture source may show, each opened
// in a pipeline of its own, and the fallback that keeps the best of them on the output. Nothing
// outside platform/capture_* includes this.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace capture {

// One video source the user may get to see, before anything of it is opened.
struct VideoSource {
    enum class Kind { Described, Camera, ColourBars };
    ~VideoSource();

    Kind kind = Kind::ColourBars;
    std::string description;     // Described: the launch description the user gave
    GstDevice* device = nullptr; // Camera: the device the monitor listed, a reference of our own
    std::string label;           // how messages name it: camera "USB Camera" (/dev/video2)
};
using SourcePtr = std::shared_ptr<const VideoSource>;

SourcePtr describedSource(const std::string& description);
SourcePtr cameraSource(GstDevice* device);
SourcePtr colourBars();

// The source bin of a launch description, or null with GStreamer's message in error. Sources
// that make no video of their own are refused.
GstElement* sourceBinFromDescription(const std::string& description, std::string& error);

// The bin whose "src" pad gives the source's own picture, asked for width x height where it has
// a choice; null with the reason in error.
GstElement* sourceBin(const VideoSource& video, int32_t width, int32_t height, std::string& error);

// A camera can be shown when it offers raw or JPEG-compressed frames.
bool canCapture(GstDevice* device);

// The mode to ask of a camera that offers the given caps: raw frames rather than JPEG, the
// smallest size at least width x height (else the largest), the highest frame rate up to 60.
// Null when it offers neither.
GstCaps* cameraMode(GstCaps* offered, int32_t width, int32_t height);

// A source running in a pipeline of its own, brought to the output's size and shape: its
// picture cropped to the centre part of the output's shape, scaled, in BGR. Its frames go to
// the output only while it forwards. Opening and the first frame happen on other threads; the
// fallback asks how far it has got.
class OpenSource {
  public:
    // Starts opening video; null with the reason in error when its pipeline cannot be made.
    static std::shared_ptr<OpenSource> open(const VideoSource& video, int32_t width, int32_t height,
                                            GstElement* output, std::string& error);
    ~OpenSource();

    // Takes the source's frames to the output from now on, or stops doing so.
    void forward(bool on);
    bool delivered() const { return firstFrameAt.load() != 0; }
    gint64 openedAt() const { return opened; } // monotonic microseconds

    // What happened to the source since it was last asked; Nothing when nothing did.
    enum class Event { Nothing, Failed, Ended };
    Event nextEvent(std::string& reason);

    // Stops the source and waits until it has stopped.
    void close();

  private:
    OpenSource(GstElement* pipeline, GstElement* output);
    static void startPlaying(GstElement* pipeline, gpointer self);
    static GstFlowReturn takeFrame(GstElement* sink, gpointer self);
    void pushLatest(); // with frameLock held

    GstElement* const pipeline; // a reference of our own
    GstElement* const output;   // the appsrc frames go to, a reference of our own
    const gint64 opened;
    std::mutex stateLock; // held while the pipeline changes state
    std::mutex frameLock; // guards latest and forwarding
    GstSample* latest = nullptr;
    bool forwarding = false;
    std::atomic<bool> closing{false};
    std::atomic<bool> startFailed{false};
    std::atomic<gint64> firstFrameAt{0};
};

// Keeps the best source of an ordered list on the output: the first one in order that gives
// frames. Sources that fail are given up, in one line on standard error; a slow one stays open
// while the next fills in; cameras plugged in join the list, unplugged ones leave it. Runs on
// the capture layer's own thread once started.
class SourceFallback : public std::enable_shared_from_this<SourceFallback> {
  public:
    // order: the sources, best first; followsCameras: cameras plugged in join it; output: the
    // appsrc of the capture source.
    SourceFallback(std::vector<SourcePtr> order, bool followsCameras, GstElement* output);
    ~SourceFallback();

    // Starts opening sources, their frames brought to width x height. Once; later calls do
    // nothing.
    void start(int32_t width, int32_t height);
    // Closes every source; nothing reaches the output after it returns.
    void stop();

    // On the capture layer's thread: one look at every source, at the monotonic time now in
    // microseconds, after the cameras plugged in or out since the last look.
    void step(gint64 now, const std::vector<SourcePtr>& added,
              const std::vector<GstDevice*>& removed);

  private:
    struct Entry {
        SourcePtr source;
        std::shared_ptr<OpenSource> open;
        bool givenUp = false;
        bool saidSlow = false; // the user was told it gives no picture yet
    };

    void watch(size_t index);
    void giveUp(size_t index, const std::string& reason);
    void choose();
    void openWhatIsNeeded(gint64 now);
    void join(const SourcePtr& camera);
    void leave(GstDevice* device);
    std::string nextInLine(size_t index) const;

    std::vector<Entry> entries; // in order, best first
    const bool followsCameras;  // cameras plugged in join the list
    GstElement* const output;   // a reference of our own
    int32_t width = 0;
    int32_t height = 0;
    bool started = false;
    const VideoSource* active = nullptr; // the source on the output, if any
};

// The capture layer's own thread steps the fallback from now on, every few milliseconds.
void supervise(std::shared_ptr<SourceFallback> fallback);
// The thread no longer steps the fallback, nor is about to, once this returns.
void stopSupervising(const SourceFallback* fallback);

// The cameras GStreamer's device monitor lists now, in its order, each with a reference the
// caller owns. Starts watching for cameras plugged in and out the first time.
std::vector<GstDevice*> listCameras();

} // namespace capture
