// The filters of the GStreamer capture layer: video sources, the sample grabber and the null
// renderer, with their pins.
#include "platform/capture_gstreamer.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace capture {

namespace {

// The caps filter at the end of every source bin, through which SetFormat asks for a size.
const char kFormatName[] = "velmora-source-format";
// The largest frame side SetFormat accepts, in pixels.
const int32_t kLargestSide = 16384;
const REFERENCE_TIME kFrameInterval = 333333; // 30 frames a second, in 100 ns

GstCaps* formatCaps(int32_t width, int32_t height) {
    // The wanted size first, then any size: a source that cannot deliver it still negotiates,
    // and the conversion after it scales.
    gchar* text = g_strdup_printf("video/x-raw,width=%d,height=%d;video/x-raw", width, height);
    GstCaps* caps = gst_caps_from_string(text);
    g_free(text);
    return caps;
}

// Gives a source bin its output: the default format on the caps filter and a ghost pad "src".
bool exposeFormat(GstElement* bin) {
    GstElement* format = gst_bin_get_by_name(GST_BIN(bin), kFormatName);
    if (!format)
        return false;
    GstCaps* caps = formatCaps(kDefaultWidth, kDefaultHeight);
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);
    GstPad* target = gst_element_get_static_pad(format, "src");
    const bool added = gst_element_add_pad(bin, gst_ghost_pad_new("src", target));
    gst_object_unref(target);
    gst_object_unref(format);
    return added;
}

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
        if (object && iid == IID_ISampleGrabber) {
            *object = static_cast<ISampleGrabber*>(this);
            AddRef();
            return S_OK;
        }
        if (object && iid == IID_IFrameArrival) {
            *object = static_cast<IFrameArrival*>(this);
            AddRef();
            return S_OK;
        }
        return Filter::QueryInterface(iid, object);
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

  private:
    GstElement* const sink; // the appsink, a reference of our own
    const std::shared_ptr<FrameSlot> slot = std::make_shared<FrameSlot>();
    GstSample* held = nullptr; // the frame copied last, or to be copied
    gint64 heldArrivedAt = 0;  // when held reached the grabber, in microseconds
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

bool holdsASource(GstElement* bin) {
    bool found = false;
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        found = GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SOURCE);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
    return found;
}

void addGhostPad(GstElement* bin, const char* name, GstElement* element, const char* padName) {
    GstPad* target = gst_element_get_static_pad(element, padName);
    gst_element_add_pad(bin, gst_ghost_pad_new(name, target));
    gst_object_unref(target);
}

} // namespace

Pin::Pin(Filter* owner, GstPad* pad, PIN_DIRECTION direction, bool wantsFrames)
    : owner(owner), pad(GST_PAD(gst_object_ref(pad))), direction(direction),
      wantsFrames(wantsFrames) {}

Pin::~Pin() {
    gst_object_unref(pad);
}

HRESULT Pin::QueryInterface(REFIID iid, void** object) {
    return capture::queryUnknownOnly(this, iid, object);
}

ULONG Pin::AddRef() {
    return owner->AddRef();
}
ULONG Pin::Release() {
    return owner->Release();
}

HRESULT Pin::QueryDirection(PIN_DIRECTION* out) {
    if (!out)
        return E_POINTER;
    *out = direction;
    return S_OK;
}

Filter::Filter(GstElement* element) : element(GST_ELEMENT(gst_object_ref_sink(element))) {}

Filter::~Filter() {
    pins.clear();
    gst_object_unref(element);
}

HRESULT Filter::QueryInterface(REFIID iid, void** object) {
    return capture::queryOffered(static_cast<IBaseFilter*>(this), IID_IBaseFilter, iid, object);
}

HRESULT Filter::EnumPins(IEnumPins** out) {
    if (!out)
        return E_POINTER;
    std::vector<IPin*> snapshot;
    for (const auto& pin : pins) {
        pin->AddRef();
        snapshot.push_back(pin.get());
    }
    *out = new capture::ReferenceList<IEnumPins, IPin>(std::move(snapshot));
    return S_OK;
}

bool Filter::requestedSize(int32_t&, int32_t&) const {
    return false;
}

Pin* Filter::addPin(GstPad* pad, PIN_DIRECTION direction, bool wantsFrames) {
    pins.push_back(std::make_unique<Pin>(this, pad, direction, wantsFrames));
    return pins.back().get();
}

SourceFilter::SourceFilter(GstElement* bin, GstElement* formatFilter)
    : Filter(bin), formatFilter(formatFilter) {
    GstPad* src = gst_element_get_static_pad(element, "src");
    addPin(src, PINDIR_OUTPUT);
    gst_object_unref(src);
}

SourceFilter::~SourceFilter() {
    gst_object_unref(formatFilter);
}

HRESULT SourceFilter::QueryInterface(REFIID iid, void** object) {
    if (object && iid == IID_IAMStreamConfig) {
        *object = static_cast<IAMStreamConfig*>(this);
        AddRef();
        return S_OK;
    }
    return Filter::QueryInterface(iid, object);
}

// GStreamer sources settle their format only when they run; before that the current format
// is the one the source will be asked for: its default, or what SetFormat set.
HRESULT SourceFilter::GetFormat(AM_MEDIA_TYPE** out) {
    if (!out)
        return E_POINTER;
    auto* type = static_cast<AM_MEDIA_TYPE*>(std::calloc(1, sizeof(AM_MEDIA_TYPE)));
    auto* video = static_cast<VIDEOINFOHEADER*>(std::calloc(1, sizeof(VIDEOINFOHEADER)));
    if (!type || !video) {
        std::free(type);
        std::free(video);
        return E_OUTOFMEMORY;
    }
    const DWORD frameBytes = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 3;
    video->AvgTimePerFrame = kFrameInterval;
    video->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    video->bmiHeader.biWidth = width;
    video->bmiHeader.biHeight = height;
    video->bmiHeader.biPlanes = 1;
    video->bmiHeader.biBitCount = 24;
    video->bmiHeader.biCompression = BI_RGB;
    video->bmiHeader.biSizeImage = frameBytes;
    type->majortype = MEDIATYPE_Video;
    type->subtype = MEDIASUBTYPE_RGB24;
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = frameBytes;
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(video);
    *out = type;
    return S_OK;
}

HRESULT SourceFilter::SetFormat(AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    if (type->formattype != FORMAT_VideoInfo || !type->pbFormat ||
        type->cbFormat < sizeof(VIDEOINFOHEADER))
        return E_INVALIDARG;
    VIDEOINFOHEADER video;
    std::memcpy(&video, type->pbFormat, sizeof video);
    const int64_t w = video.bmiHeader.biWidth;
    const int64_t h = std::llabs(video.bmiHeader.biHeight);
    if (w <= 0 || h <= 0 || w > kLargestSide || h > kLargestSide)
        return E_INVALIDARG;
    if (pins[0]->peer)
        return VFW_E_ALREADY_CONNECTED;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    GstCaps* caps = formatCaps(width, height);
    g_object_set(formatFilter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    return S_OK;
}

bool SourceFilter::requestedSize(int32_t& w, int32_t& h) const {
    w = width;
    h = height;
    return true;
}

GstElement* sourceBinFromDescription(const std::string& description, std::string& error) {
    const std::string chain = description + " ! capsfilter name=" + kFormatName;
    GError* parseError = nullptr;
    GstElement* bin = gst_parse_bin_from_description_full(chain.c_str(), FALSE, nullptr,
                                                          GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
    if (parseError || !bin) {
        error = parseError ? parseError->message : "could not be made";
        if (parseError)
            g_error_free(parseError);
        if (bin)
            gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    gst_object_ref_sink(bin);
    // Without an element that makes data of its own there would never be a frame.
    if (!holdsASource(bin)) {
        error = "not a source: none of its elements makes video of its own";
        gst_object_unref(bin);
        return nullptr;
    }
    if (!exposeFormat(bin)) {
        error = "could not be made";
        gst_object_unref(bin);
        return nullptr;
    }
    return bin;
}

GstElement* sourceBinFromDevice(GstDevice* device) {
    GstElement* source = gst_device_create_element(device, nullptr);
    GstElement* format = gst_element_factory_make("capsfilter", kFormatName);
    if (!source || !format) {
        if (source)
            gst_object_unref(source);
        if (format)
            gst_object_unref(format);
        return nullptr;
    }
    GstElement* bin = GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr)));
    gst_bin_add_many(GST_BIN(bin), source, format, nullptr);
    if (!gst_element_link(source, format) || !exposeFormat(bin)) {
        gst_object_unref(bin);
        return nullptr;
    }
    return bin;
}

SourceFilter* newSourceFilter(GstElement* bin) {
    GstElement* format = gst_bin_get_by_name(GST_BIN(bin), kFormatName);
    SourceFilter* filter = new SourceFilter(bin, format);
    gst_object_unref(bin); // the filter holds its own reference now
    return filter;
}

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

// The null renderer discards what it gets, in time with the clock, so that a source that
// is not live (a file, a test pattern) runs at its own pace rather than as fast as it can.
Filter* newNullRenderer() {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!sink)
        return nullptr;
    g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    auto* renderer = new Filter(sink);
    GstPad* input = gst_element_get_static_pad(sink, "sink");
    renderer->addPin(input, PINDIR_INPUT);
    gst_object_unref(input);
    return renderer;
}

} // namespace capture
