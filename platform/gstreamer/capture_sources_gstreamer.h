// Inside the GStreamer capture layer: the video sources a capture source may show, each opened
// in a pipeline of its own, and the fallback that keeps the best of them on the output. Nothing
// outside platform/gstreamer/capture_* includes this.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace capture {

// One video source the user may get to see, before anything of it is opened.
struct VideoSource {
    enum class Kind { Described, Camera, ColourBars };
    VideoSource() = default;
    VideoSource(const VideoSource&) = delete; // holds a reference on its device
    VideoSource& operator=(const VideoSource&) = delete;
    ~VideoSource();

    Kind kind = Kind::ColourBars;
    std::string description;     // Described: the launch description the user gave
    GstDevice* device = nullptr; // Camera: the device the monitor listed, a reference of our own
    bool greyOnly = false;       // Camera: greyscale frames only, as an infra-red camera gives
    std::string label;           // how messages name it: camera "USB Camera" (/dev/video2)
};
using SourcePtr = std::shared_ptr<const VideoSource>;

SourcePtr describedSource(const std::string& description);
// A camera; a new device object for the same camera keeps the label of the source it replaces.
SourcePtr cameraSource(GstDevice* device);
SourcePtr cameraSource(GstDevice* device, const VideoSource& replaced);

// Whether two device objects stand for the same camera: the same object, the same device path,
// or (without a path) the same name and properties.
bool sameDevice(GstDevice* a, GstDevice* b);
SourcePtr colourBars();

// The source bin of a launch description, or null with GStreamer's message in error. Sources
// that make no data of their own are refused.
GstElement* sourceBinFromDescription(const std::string& description, std::string& error);

// The bin whose "src" pad gives the source's own frames, raw or encoded; a camera is asked for
// its best mode for width x height. Null with the reason in error.
GstElement* sourceBin(const VideoSource& video, int32_t width, int32_t height, std::string& error);

// A camera can be shown when it offers raw frames or frames GStreamer can decode.
bool canCapture(GstDevice* device);
// Whether every mode a camera offers is greyscale (GRAY8, GRAY16_LE and the like).
bool offersGreyOnly(GstDevice* device);

// The mode to ask of a camera that offers the given caps: raw frames rather than encoded ones,
// the smallest size at least width x height (else the largest), the highest frame rate up to
// 60. Null when it offers nothing it could show.
GstCaps* cameraMode(GstCaps* offered, int32_t width, int32_t height);

// A source running in a pipeline of its own, brought to the output's size and shape: its
// frames decoded where they are encoded, the picture cropped to the centre part of the
// output's shape, scaled, in BGR. Its frames go to the output only while it forwards. Opening
// and the first frame happen on other threads; the fallback asks how far it has got.
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

    // What happened to the source since it was last asked; Nothing when nothing did. Busy:
    // the device is held by another program (reason says so).
    enum class Event { Nothing, Failed, Busy, Ended };
    Event nextEvent(std::string& reason);

    // Stops the source and waits until it has stopped.
    void close();

  private:
    OpenSource(GstElement* pipeline, GstElement* output);
    static void startPlaying(GstElement* pipeline, gpointer self);
    static GstFlowReturn takeFrame(GstElement* sink, gpointer self);
    static void padAdded(GstElement* decoder, GstPad* pad, gpointer self);
    static void unknownType(GstElement* decoder, GstPad* pad, GstCaps* caps, gpointer self);
    static void noMorePads(GstElement* decoder, gpointer self);
    void pushLatest(); // with frameLock held
    void noteOtherMedia(GstCaps* caps);

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
    std::atomic<bool> pictureFound{false}; // the decoder has given a picture stream
    std::atomic<bool> noPicture{false};    // the decoder has given all its streams, none a picture
    std::string otherMedia;                // with frameLock held: what it gave instead
};

// One line on standard error: "velmora: " and the words.
void say(const std::string& words);

// How long a camera given up as busy is left alone before it is tried again, in microseconds.
const gint64 kBusyRetry = 3 * G_USEC_PER_SEC;

// What the device monitor said since the last look: cameras plugged in, unplugged, and changed
// (the old device object, then the new one that stands for the same camera). Holds a
// reference on every device.
struct DeviceNews {
    DeviceNews() = default;
    DeviceNews(const DeviceNews&) = delete;
    DeviceNews& operator=(const DeviceNews&) = delete;
    ~DeviceNews();
    std::vector<SourcePtr> added;
    std::vector<GstDevice*> removed;
    std::vector<std::pair<GstDevice*, GstDevice*>> changed;
};

// Keeps the best source of an ordered list on the output: the first one in order that gives
// frames, or the one the user chose. Sources that fail are given up, in one line on standard
// error; a busy camera is tried again every few seconds; a slow one stays open while the next
// fills in; cameras plugged in join the list, unplugged ones leave it. Runs on the capture
// layer's own thread once started.
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

    // From any thread: the user asks for the next source in order. Lock-free and without
    // allocation; the next step takes it up.
    void chooseNext() { choiceRequests.fetch_add(1, std::memory_order_relaxed); }

    // On the capture layer's thread: one look at every source, at the monotonic time now in
    // microseconds, after what the device monitor said since the last look.
    void step(gint64 now, const DeviceNews& news);

  private:
    struct Entry {
        SourcePtr source;
        std::shared_ptr<OpenSource> open;
        bool givenUp = false;
        bool saidSlow = false; // the user was told it gives no picture yet
        bool busy = false;     // given up because another program holds the device
        gint64 retryAt = 0;    // busy: when it is next tried, monotonic microseconds
        bool retrying = false; // busy: open again quietly
    };

    void watch(size_t index, gint64 now);
    void giveUp(size_t index, const std::string& reason);
    void close(Entry& entry);
    void choose();
    void openWhatIsNeeded(gint64 now);
    void openChosen();
    void retryBusy(gint64 now);
    void takeChoices();
    void chooseAfter(size_t index);
    size_t indexOf(const VideoSource* source) const; // entries.size() when not there
    void join(const SourcePtr& camera);
    void leave(GstDevice* device);
    void replace(GstDevice* old, GstDevice* device);
    std::string nextInLine(size_t index) const;

    std::vector<Entry> entries; // in order, best first
    const bool followsCameras;  // cameras plugged in join the list
    GstElement* const output;   // a reference of our own
    int32_t width = 0;
    int32_t height = 0;
    bool started = false;
    const VideoSource* active = nullptr;     // the source on the output, if any
    const VideoSource* chosen = nullptr;     // the source the user chose, shown or on its way
    std::atomic<unsigned> choiceRequests{0}; // presses not yet taken up
};

// The capture layer's own thread steps the fallback from now on, every few milliseconds.
void supervise(std::shared_ptr<SourceFallback> fallback);
// The thread no longer steps the fallback, nor is about to, once this returns.
void stopSupervising(const SourceFallback* fallback);

// The cameras GStreamer's device monitor lists now, in its order but those giving greyscale
// only last, each with a reference the caller owns. Starts watching for cameras plugged in and
// out the first time.
std::vector<GstDevice*> listCameras();

} // namespace capture
