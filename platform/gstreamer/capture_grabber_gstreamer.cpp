// The sample grabber of the GStreamer capture layer: every frame that reaches it is handed, as it
// arrives, to a slot that the frame copy takes the newest from, so the copy never waits.
#include "platform/gstreamer/capture_gstreamer.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace capture {

namespace {

// The newest frame to reach the grabber and when it came. The appsink's streaming thread puts
// each frame here as it arrives; the frame copy takes it from here. Shared with the appsink's
// callbacks, which may still be running while the grabber goes away.
struct FrameSlot {
    ~FrameSlot() {
        if (newest)
            gst_sample_unref(newest);
    }
    std::mutex lock;
    GstSample* newest = nullptr; // guarded by lock
    gint64 arrivedAt = 0;        // monotonic time in microseconds, guarded by lock
};

GstFlowReturn takeArrivingFrame(GstAppSink* sink, gpointer data) {
    GstSample* arriving = gst_app_sink_pull_sample(sink);
    if (!arriving)
        return GST_FLOW_OK;
    FrameSlot& slot = **static_cast<std::shared_ptr<FrameSlot>*>(data);
    GstSample* replaced;
    {
        std::lock_guard<std::mutex> hold(slot.lock);
        replaced = slot.newest;
        slot.newest = arriving;
        slot.arrivedAt = g_get_monotonic_time();
    }
    if (replaced)
        gst_sample_unref(replaced);
    return GST_FLOW_OK;
}

void forgetSlot(gpointer data) {
    delete static_cast<std::shared_ptr<FrameSlot>*>(data);
}

// The sample grabber: a tee whose one branch hands every frame to the grabber as it arrives
// (older ones dropped, no waiting for the clock) and whose other branch is the output pin.
class SampleGrabber final : public Filter, public ISampleGrabber, public IFrameArrival {
  public:
    SampleGrabber(GstElement* bin, GstElement* sink) : Filter(bin), sink(sink) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = takeArrivingFrame;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks,
                                   new std::shared_ptr<FrameSlot>(slot), forgetSlot);
    }
    ~SampleGrabber() override {
        GstAppSinkCallbacks none{};
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &none, nullptr, nullptr);
        if (held)
            gst_sample_unref(held);
        gst_object_unref(sink);
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        auto* self = static_cast<IBaseFilter*>(this);
        return queryAmong(self,
                          {{IID_IBaseFilter, self},
                           {IID_ISampleGrabber, static_cast<ISampleGrabber*>(this)},
                           {IID_IFrameArrival, static_cast<IFrameArrival*>(this)}},
                          iid, object);
    }
    ULONG AddRef() override { return Filter::AddRef(); }
    ULONG Release() override { return Filter::Release(); }
    HRESULT SetOneShot(BOOL oneShot) override { return oneShot ? E_NOTIMPL : S_OK; }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        if (!type)
            return E_POINTER;
        return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24
                   ? S_OK
                   : E_INVALIDARG;
    }
    HRESULT SetBufferSamples(BOOL buffer) override {
        bufferSamples = buffer != FALSE;
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG* bufferSize, BYTE* buffer) override;
    HRESULT GetCopiedFrameAge(REFERENCE_TIME* age) override {
        if (!age)
            return E_POINTER;
        if (copiedAge < 0)
            return VFW_E_WRONG_STATE;
        *age = copiedAge;
        return S_OK;
    }
    HRESULT GetCopiedFrameNumber(LONGLONG* number) override {
        if (!number)
            return E_POINTER;
        if (copiedAge < 0)
            return VFW_E_WRONG_STATE;
        *number = heldNumber;
        return S_OK;
    }

  private:
    GstElement* const sink; // the appsink, a reference of our own
    const std::shared_ptr<FrameSlot> slot = std::make_shared<FrameSlot>();
    GstSample* held = nullptr; // the frame copied last, or to be copied
    gint64 heldArrivedAt = 0;  // when held reached the grabber, in microseconds
    LONGLONG heldNumber = 0;   // held's place among the frames taken from the slot, from 1
    REFERENCE_TIME copiedAge = -1;
    bool bufferSamples = false;
};

HRESULT SampleGrabber::GetCurrentBuffer(LONG* bufferSize, BYTE* buffer) {
    if (!bufferSize || !buffer)
        return E_POINTER;
    if (!bufferSamples)
        return VFW_E_WRONG_STATE;
    // Never waits: a frame newer than the held one replaces it, otherwise the held one stays,
    // also after the source has ended or failed.
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        if (slot->newest && slot->newest != held) {
            if (held)
                gst_sample_unref(held);
            held = gst_sample_ref(slot->newest);
            heldArrivedAt = slot->arrivedAt;
            ++heldNumber;
        }
    }
    if (!held)
        return VFW_E_WRONG_STATE;
    const gint64 copyStartedAt = g_get_monotonic_time();

    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(held)) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR)
        return E_FAIL;
    const int64_t rowBytes = static_cast<int64_t>(GST_VIDEO_INFO_WIDTH(&info)) * 3;
    const int64_t rows = GST_VIDEO_INFO_HEIGHT(&info);
    if (rowBytes * rows > *bufferSize)
        return E_OUTOFMEMORY;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(held), GST_MAP_READ))
        return E_FAIL;
    const auto* data = static_cast<const BYTE*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int64_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    // Bottom row first, rows without gaps, whatever stride GStreamer gave the rows.
    for (int64_t row = 0; row < rows; ++row)
        std::memcpy(buffer + row * rowBytes, data + (rows - 1 - row) * stride,
                    static_cast<size_t>(rowBytes));
    gst_video_frame_unmap(&frame);
    *bufferSize = static_cast<LONG>(rowBytes * rows);
    copiedAge = (copyStartedAt - heldArrivedAt) * 10;
    return S_OK;
}

GstElement* makeElement(const char* factory, std::vector<GstElement*>& made) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    made.push_back(element);
    return element;
}

bool allMade(std::vector<GstElement*>& made) {
    for (GstElement* element : made)
        if (!element) {
            for (GstElement* other : made)
                if (other)
                    gst_object_unref(other);
            return false;
        }
    return true;
}

} // namespace

Filter* newSampleGrabber() {
    std::vector<GstElement*> made;
    GstElement* tee = makeElement("tee", made);
    GstElement* frameQueue = makeElement("queue", made);
    GstElement* sink = makeElement("appsink", made);
    GstElement* outputQueue = makeElement("queue", made);
    if (!allMade(made))
        return nullptr;
    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
    // The grabber's branch never holds the stream back: the queue drops the older frame.
    g_object_set(frameQueue, "max-size-buffers", 1u, "max-size-bytes", 0u, "max-size-time",
                 static_cast<guint64>(0), nullptr);
    gst_util_set_object_arg(G_OBJECT(frameQueue), "leaky", "downstream");
    g_object_set(outputQueue, "max-size-buffers", 1u, "max-size-bytes", 0u, "max-size-time",
                 static_cast<guint64>(0), nullptr);
    GstCaps* bgr = gst_caps_from_string("video/x-raw,format=BGR");
    g_object_set(sink, "caps", bgr, "sync", FALSE, "max-buffers", 1u, "drop", TRUE,
                 "enable-last-sample", FALSE, nullptr);
    gst_caps_unref(bgr);

    GstElement* bin = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(bin), tee, frameQueue, sink, outputQueue, nullptr);
    gst_element_link_many(tee, frameQueue, sink, nullptr);
    gst_element_link(tee, outputQueue);
    addGhostPad(bin, "sink", tee, "sink");
    addGhostPad(bin, "src", outputQueue, "src");

    auto* grabber = new SampleGrabber(bin, GST_ELEMENT(gst_object_ref(sink)));
    GstPad* input = gst_element_get_static_pad(grabber->element, "sink");
    GstPad* output = gst_element_get_static_pad(grabber->element, "src");
    grabber->addPin(input, PINDIR_INPUT, true);
    grabber->addPin(output, PINDIR_OUTPUT);
    gst_object_unref(input);
    gst_object_unref(output);
    return grabber;
}

} // namespace capture
