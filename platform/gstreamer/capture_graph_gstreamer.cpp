// The filter graph of the GStreamer capture layer, a pipeline, and the capture graph builder
// that renders a source's free output.
#include "platform/gstreamer/capture_gstreamer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::vector<GstElement*>& runningPipelines() {
    static auto* list = new std::vector<GstElement*>;
    return *list;
}

// The pipelines stop before the rest of the process goes at exit, so that no streaming thread
// is still at work while the libraries tear themselves down.
void stopPipelinesAtExit() {
    for (GstElement* pipeline : runningPipelines())
        gst_element_set_state(pipeline, GST_STATE_NULL);
    runningPipelines().clear();
}

void keepRunning(GstElement* pipeline) {
    static const bool registered = std::atexit(stopPipelinesAtExit) == 0;
    (void)registered;
    std::vector<GstElement*>& list = runningPipelines();
    if (std::find(list.begin(), list.end(), pipeline) == list.end())
        list.push_back(pipeline);
}

void forgetRunning(GstElement* pipeline) {
    std::vector<GstElement*>& list = runningPipelines();
    list.erase(std::remove(list.begin(), list.end(), pipeline), list.end());
}

bool hasChildNamed(GstElement* bin, const std::string& name) {
    bool found = false;
    GST_OBJECT_LOCK(bin);
    for (GList* child = GST_BIN_CHILDREN(bin); child && !found; child = child->next)
        found = name == GST_OBJECT_NAME(child->data);
    GST_OBJECT_UNLOCK(bin);
    return found;
}

// The name a filter takes in the graph: its own, or with " 0001" and so on after it when a
// filter of that name is already there, as the Windows graph does.
std::string uniqueName(GstElement* pipeline, const std::string& wanted) {
    std::string name = wanted;
    for (int n = 1; hasChildNamed(pipeline, name) && n < 10000; ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", n);
        name = wanted + suffix;
    }
    return name;
}

// What Connect puts before the grabber: scaling to the size the source was asked for (only
// when the source delivers another) and conversion to BGR.
GstElement* newConversion(const capture::Filter& upstream) {
    std::string error;
    GstElement* bin =
        capture::parseBin("videoscale ! videoconvert ! capsfilter name=frames", true, error);
    if (!bin)
        return nullptr;
    int32_t width = 0;
    int32_t height = 0;
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr);
    if (upstream.requestedSize(width, height))
        gst_caps_set_simple(caps, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                            nullptr);
    GstElement* frames = gst_bin_get_by_name(GST_BIN(bin), "frames");
    g_object_set(frames, "caps", caps, nullptr);
    gst_object_unref(frames);
    gst_caps_unref(caps);
    return bin;
}

class CaptureGraphBuilder final : public ICaptureGraphBuilder2, protected capture::Counted {
  public:
    ~CaptureGraphBuilder() override {
        if (graph)
            graph->Release();
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return capture::queryOffered(this, IID_ICaptureGraphBuilder2, iid, object);
    }
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }

    HRESULT SetFiltergraph(IGraphBuilder* newGraph) override {
        if (!newGraph)
            return E_POINTER;
        if (graph)
            return E_UNEXPECTED;
        graph = newGraph;
        graph->AddRef();
        return S_OK;
    }

    HRESULT FindInterface(const GUID*, const GUID*, IBaseFilter* filter, REFIID iid,
                          void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!filter)
            return E_POINTER;
        return filter->QueryInterface(iid, object);
    }

    HRESULT RenderStream(const GUID*, const GUID*, IUnknown* source, IBaseFilter* compressor,
                         IBaseFilter* renderer) override;

  private:
    IGraphBuilder* graph = nullptr;
};

capture::Pin* firstFreePin(capture::Filter* filter, PIN_DIRECTION direction) {
    if (filter)
        for (const auto& pin : filter->pins)
            if (pin->direction == direction && !pin->peer)
                return pin.get();
    return nullptr;
}

// Every source pin of this layer is a capture pin; the preview a Windows source may have is
// not there. A source whose output is still free is rendered into a null renderer; one whose
// output is taken leaves nothing to render.
HRESULT CaptureGraphBuilder::RenderStream(const GUID*, const GUID*, IUnknown* source,
                                          IBaseFilter* compressor, IBaseFilter* renderer) {
    if (!graph)
        return E_UNEXPECTED;
    if (!source)
        return E_POINTER;
    if (compressor)
        return E_NOTIMPL;
    IBaseFilter* sourceFilter = nullptr;
    source->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&sourceFilter));
    capture::Pin* output =
        firstFreePin(dynamic_cast<capture::Filter*>(sourceFilter), PINDIR_OUTPUT);
    if (sourceFilter)
        sourceFilter->Release();
    if (!output)
        return E_FAIL;

    IBaseFilter* sink = renderer;
    if (sink)
        sink->AddRef();
    else
        sink = capture::newNullRenderer();
    auto* sinkFilter = dynamic_cast<capture::Filter*>(sink);
    HRESULT result = E_FAIL;
    if (sinkFilter) {
        if (!sinkFilter->graph)
            graph->AddFilter(sink, u"Null Renderer");
        if (capture::Pin* input = firstFreePin(sinkFilter, PINDIR_INPUT))
            result = graph->Connect(output, input);
    }
    if (sink)
        sink->Release();
    return result;
}

} // namespace

namespace capture {

FilterGraph::FilterGraph() : pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)))) {
    // Nobody reads the bus: it drops every message, so none piles up while the graph runs.
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
}

FilterGraph::~FilterGraph() {
    forgetRunning(pipeline);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    for (Filter* filter : filters) {
        for (const auto& pin : filter->pins)
            pin->peer = nullptr;
        filter->graph = nullptr;
    }
    for (Filter* filter : filters)
        filter->Release();
    gst_object_unref(pipeline);
}

HRESULT FilterGraph::QueryInterface(REFIID iid, void** object) {
    auto* self = static_cast<IGraphBuilder*>(this);
    return queryAmong(
        self, {{IID_IGraphBuilder, self}, {IID_IMediaControl, static_cast<IMediaControl*>(this)}},
        iid, object);
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
    if (!filter)
        return E_POINTER;
    auto* own = dynamic_cast<Filter*>(filter);
    if (!own)
        return E_INVALIDARG;
    if (own->graph)
        return E_FAIL;
    if (name && *name)
        gst_object_set_name(GST_OBJECT(own->element),
                            uniqueName(pipeline, utf8FromWide(name)).c_str());
    if (!gst_bin_add(GST_BIN(pipeline), own->element))
        return E_FAIL;
    own->graph = this;
    own->AddRef();
    filters.push_back(own);
    return S_OK;
}

HRESULT FilterGraph::Connect(IPin* output, IPin* input) {
    if (!output || !input)
        return E_POINTER;
    auto* out = dynamic_cast<Pin*>(output);
    auto* in = dynamic_cast<Pin*>(input);
    if (!out || !in || out->direction != PINDIR_OUTPUT || in->direction != PINDIR_INPUT)
        return E_INVALIDARG;
    if (out->owner->graph != this || in->owner->graph != this)
        return E_FAIL;
    if (out->peer || in->peer)
        return VFW_E_ALREADY_CONNECTED;

    if (!in->wantsFrames) {
        if (gst_pad_link(out->pad, in->pad) != GST_PAD_LINK_OK)
            return E_FAIL;
    } else {
        GstElement* conversion = newConversion(*out->owner);
        if (!conversion)
            return E_FAIL;
        bool linked = gst_bin_add(GST_BIN(pipeline), conversion);
        if (linked) {
            GstPad* sink = gst_element_get_static_pad(conversion, "sink");
            GstPad* src = gst_element_get_static_pad(conversion, "src");
            linked = gst_pad_link(out->pad, sink) == GST_PAD_LINK_OK &&
                     gst_pad_link(src, in->pad) == GST_PAD_LINK_OK;
            if (!linked) {
                gst_pad_unlink(out->pad, sink);
                gst_bin_remove(GST_BIN(pipeline), conversion);
            }
            gst_object_unref(sink);
            gst_object_unref(src);
        }
        if (linked)
            gst_element_sync_state_with_parent(conversion);
        gst_object_unref(conversion); // the pipeline holds it now, if anyone does
        if (!linked)
            return E_FAIL;
    }
    out->peer = in;
    in->peer = out;
    return S_OK;
}

HRESULT FilterGraph::Run() {
    for (Filter* filter : filters)
        filter->graphRuns();
    const GstStateChangeReturn change = gst_element_set_state(pipeline, GST_STATE_PLAYING);
    keepRunning(pipeline);
    switch (change) {
    case GST_STATE_CHANGE_FAILURE:
        return E_FAIL;
    case GST_STATE_CHANGE_ASYNC:
        return S_FALSE; // on its way: not every element is running yet
    default:
        return S_OK;
    }
}

IUnknown* newFilterGraph() {
    return static_cast<IGraphBuilder*>(new FilterGraph);
}
IUnknown* newCaptureGraphBuilder() {
    return new CaptureGraphBuilder;
}

} // namespace capture
