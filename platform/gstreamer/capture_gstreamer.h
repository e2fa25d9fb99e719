// Inside the GStreamer capture layer: the objects behind the interfaces of capture_service.h,
// shared by its implementation files. Nothing outside platform/gstreamer/capture_* includes this.
#pragma once

#include "platform/capture_service.h"

#include <gst/gst.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace capture {

// The capture size a source offers before anyone asks for another, in pixels.
const int32_t kDefaultWidth = 160;
const int32_t kDefaultHeight = 120;

// The reference count of one of the layer's objects; the object goes with the last Release.
class Counted {
  public:
    virtual ~Counted() = default;

  protected:
    ULONG addRef() { return refs.fetch_add(1) + 1; }
    ULONG release() {
        const ULONG left = refs.fetch_sub(1) - 1;
        if (left == 0)
            delete this;
        return left;
    }

  private:
    std::atomic<ULONG> refs{1};
};

// One interface an object offers: its id and the object as that interface.
struct Offer {
    const IID& iid;
    IUnknown* as;
};

// QueryInterface of an object that offers the interfaces in offers beside IUnknown; self is what
// the caller gets for IUnknown.
inline HRESULT queryAmong(IUnknown* self, std::initializer_list<Offer> offers, REFIID iid,
                          void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    IUnknown* found = iid == IID_IUnknown ? self : nullptr;
    for (const Offer& offer : offers)
        if (!found && iid == offer.iid)
            found = offer.as;
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    *object = found;
    return S_OK;
}

// QueryInterface of an object that offers one interface, offered, beside IUnknown; self is the
// object as that interface, which is what the caller gets for either.
inline HRESULT queryOffered(IUnknown* self, REFIID offered, REFIID iid, void** object) {
    return queryAmong(self, {{offered, self}}, iid, object);
}

// QueryInterface of an object that offers no interface beyond IUnknown.
inline HRESULT queryUnknownOnly(IUnknown* self, REFIID iid, void** object) {
    return queryAmong(self, {}, iid, object);
}

// Enumerates a snapshot of items (pins, monikers), holding one reference on each, which it is
// handed with them and gives back when it goes.
template <typename Enumerator, typename Item>
class ReferenceList final : public Enumerator, protected Counted {
  public:
    explicit ReferenceList(std::vector<Item*> items) : items(std::move(items)) {}
    ~ReferenceList() override {
        for (Item* item : items)
            item->Release();
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return queryUnknownOnly(this, iid, object);
    }
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }
    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
        if (!out)
            return E_POINTER;
        ULONG given = 0;
        while (given < count && next < items.size()) {
            out[given] = items[next++];
            out[given]->AddRef();
            ++given;
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }

  private:
    std::vector<Item*> items;
    size_t next = 0;
};

class Filter;
class FilterGraph;

// A pin is a pad of its filter's element. It has no count of its own: like the Windows pins it
// lives as long as its filter and counts on it.
class Pin final : public IPin {
  public:
    Pin(Filter* owner, GstPad* pad, PIN_DIRECTION direction, bool wantsFrames);
    ~Pin();
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;

    Filter* const owner;
    GstPad* const pad; // a reference of our own
    const PIN_DIRECTION direction;
    const bool wantsFrames; // the grabber's input: Connect puts the conversion to BGR before it
    Pin* peer = nullptr;    // the pin this one is connected to
};

// A filter is one element (often a bin) that enters the pipeline when added to the graph.
class Filter : public IBaseFilter, protected Counted {
  public:
    explicit Filter(GstElement* element); // takes the (floating or full) reference
    ~Filter() override;
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }
    HRESULT EnumPins(IEnumPins** pins) override;

    // The frame size this filter's output was asked for, when it is a source.
    virtual bool requestedSize(int32_t& width, int32_t& height) const;

    // Called when the graph the filter is in starts running.
    virtual void graphRuns() {}

    Pin* addPin(GstPad* pad, PIN_DIRECTION direction, bool wantsFrames = false);

    GstElement* const element; // a reference of our own
    FilterGraph* graph = nullptr;
    std::vector<std::unique_ptr<Pin>> pins; // in enumeration order
};

class SourceFallback;
struct VideoSource;

// A video source: an output fed by the best of an ordered list of sources, each running in a
// pipeline of its own (capture_fallback_gstreamer.cpp). The format set through IAMStreamConfig
// is the size every one of them is brought to; ISourceChoice moves on to the next of them. One
// output pin.
class SourceFilter final : public Filter, public IAMStreamConfig, public ISourceChoice {
  public:
    SourceFilter(GstElement* output, std::shared_ptr<SourceFallback> fallback);
    ~SourceFilter() override;
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return Filter::AddRef(); }
    ULONG Release() override { return Filter::Release(); }
    HRESULT GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT ChooseNextSource() override;
    bool requestedSize(int32_t& w, int32_t& h) const override;
    void graphRuns() override;

  private:
    const std::shared_ptr<SourceFallback> fallback;
    int32_t width = kDefaultWidth;
    int32_t height = kDefaultHeight;
};

// Makes the filters the graph builder and CoCreateInstance hand out; null if GStreamer lacks an
// element they need.
Filter* newSampleGrabber();
Filter* newNullRenderer();
// A capture source showing the best of the sources in order, best first; cameras plugged in
// while it runs join them when followsCameras is set.
SourceFilter* newSourceFilter(std::vector<std::shared_ptr<const VideoSource>> order,
                              bool followsCameras);

// A bin made from a launch description, with a reference of our own; its unlinked pads become
// ghost pads when ghostPads is set. Null with GStreamer's message in error.
GstElement* parseBin(const std::string& description, bool ghostPads, std::string& error);
// Gives bin a ghost pad name onto the pad padName of its child element.
bool addGhostPad(GstElement* bin, const char* name, GstElement* element, const char* padName);

class FilterGraph final : public IGraphBuilder, public IMediaControl, protected Counted {
  public:
    FilterGraph();
    ~FilterGraph() override;
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT Connect(IPin* output, IPin* input) override;
    HRESULT Run() override;

    GstElement* const pipeline;

  private:
    std::vector<Filter*> filters; // each with a reference of the graph's
};

IUnknown* newFilterGraph();
IUnknown* newCaptureGraphBuilder();
IUnknown* newDeviceEnumerator();

// Text of a 16-bit name as UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromWide(LPCWSTR text);

} // namespace capture
