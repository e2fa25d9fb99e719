// The device enumerator of the GStreamer capture layer. Its video input devices, in order: the
// source VELMORA_VIDEO_SOURCE describes, when set; the cameras GStreamer's device monitor lists;
// and last, always, colour bars, so that a machine without a camera still shows a picture.
// Binding one of them makes a capture source that shows the first of it and those after it
// that gives a picture.
#include "platform/gstreamer/capture_gstreamer.h"
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kSourceVariable[] = "VELMORA_VIDEO_SOURCE";

using capture::SourcePtr;

class DeviceMoniker final : public IMoniker, protected capture::Counted {
  public:
    // The device at index of order, the list it was enumerated with.
    DeviceMoniker(std::shared_ptr<const std::vector<SourcePtr>> order, size_t index)
        : order(std::move(order)), index(index) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return capture::queryUnknownOnly(this, iid, object);
    }
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }

    HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (context || left)
            return E_INVALIDARG;
        if (iid != IID_IBaseFilter && iid != IID_IUnknown)
            return E_NOINTERFACE;
        // Cameras plugged in later come after those listed now: a device from before the bars
        // may give way to them.
        const bool followsCameras =
            index == 0 || (*order)[index]->kind != capture::VideoSource::Kind::ColourBars;
        capture::SourceFilter* filter = capture::newSourceFilter(
            std::vector<SourcePtr>(order->begin() + static_cast<long>(index), order->end()),
            followsCameras);
        if (!filter)
            return E_FAIL;
        const HRESULT result = static_cast<IBaseFilter*>(filter)->QueryInterface(iid, object);
        filter->Release();
        return result;
    }

  private:
    const std::shared_ptr<const std::vector<SourcePtr>> order;
    const size_t index;
};

// The chosen source joins the list only when its description makes a source; otherwise one line
// says why.
void addChosenSource(std::vector<SourcePtr>& order) {
    const char* chosen = std::getenv(kSourceVariable);
    if (!chosen || !*chosen)
        return;
    std::string error;
    if (GstElement* bin = capture::sourceBinFromDescription(chosen, error)) {
        gst_object_unref(bin);
        order.push_back(capture::describedSource(chosen));
        return;
    }
    // One line, whatever the message holds.
    for (char& c : error)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", kSourceVariable, error.c_str());
}

class DeviceEnumerator final : public ICreateDevEnum, protected capture::Counted {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return capture::queryOffered(this, IID_ICreateDevEnum, iid, object);
    }
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }

    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (category != CLSID_VideoInputDeviceCategory)
            return S_FALSE; // no device of any other category here
        std::vector<SourcePtr> order;
        addChosenSource(order);
        for (GstDevice* camera : capture::listCameras()) {
            order.push_back(capture::cameraSource(camera));
            gst_object_unref(camera);
        }
        order.push_back(capture::colourBars());
        auto shared = std::make_shared<const std::vector<SourcePtr>>(std::move(order));
        std::vector<IMoniker*> monikers;
        for (size_t i = 0; i < shared->size(); ++i)
            monikers.push_back(new DeviceMoniker(shared, i));
        *out = new capture::ReferenceList<IEnumMoniker, IMoniker>(std::move(monikers));
        return S_OK;
    }
};

} // namespace

namespace capture {

IUnknown* newDeviceEnumerator() {
    return static_cast<ICreateDevEnum*>(new DeviceEnumerator);
}

} // namespace capture
