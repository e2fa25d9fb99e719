// The filters of the GStreamer capture layer, with their pins: the capture source in front of
// its fallback, and the null renderer. The sample grabber has a file of its own.
#include "platform/gstreamer/capture_gstreamer.h"
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <gst/app/gstappsrc.h>

#include <cstdlib>
#include <cstring>

namespace capture {

namespace {

// The largest frame side SetFormat accepts, in pixels.
const int32_t kLargestSide = 16384;
const REFERENCE_TIME kFrameInterval = 333333; // 30 frames a second, in 100 ns

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

SourceFilter::SourceFilter(GstElement* output, std::shared_ptr<SourceFallback> fallback)
    : Filter(output), fallback(std::move(fallback)) {
    GstPad* src = gst_element_get_static_pad(element, "src");
    addPin(src, PINDIR_OUTPUT);
    gst_object_unref(src);
}

SourceFilter::~SourceFilter() {
    fallback->stop();
}

HRESULT SourceFilter::QueryInterface(REFIID iid, void** object) {
    auto* self = static_cast<IBaseFilter*>(this);
    return queryAmong(self,
                      {{IID_IBaseFilter, self},
                       {IID_IAMStreamConfig, static_cast<IAMStreamConfig*>(this)},
                       {IID_ISourceChoice, static_cast<ISourceChoice*>(this)}},
                      iid, object);
}

HRESULT SourceFilter::ChooseNextSource() {
    fallback->chooseNext();
    return S_OK;
}

// GStreamer sources settle their format only when they run; the current format is the one every
// source will be brought to: the default, or what SetFormat set.
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
    return S_OK;
}

bool SourceFilter::requestedSize(int32_t& w, int32_t& h) const {
    w = width;
    h = height;
    return true;
}

void SourceFilter::graphRuns() {
    fallback->start(width, height);
}

SourceFilter* newSourceFilter(std::vector<SourcePtr> order, bool followsCameras) {
    GstElement* output = gst_element_factory_make("appsrc", nullptr);
    if (!output)
        return nullptr;
    // A live source that never holds a source back: when the stream behind it lags, the older
    // frame goes.
    g_object_set(output, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE,
                 "max-buffers", static_cast<guint64>(2), "block", FALSE, nullptr);
    gst_util_set_object_arg(G_OBJECT(output), "leaky-type", "downstream");
    auto fallback = std::make_shared<SourceFallback>(std::move(order), followsCameras, output);
    return new SourceFilter(output, std::move(fallback));
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
