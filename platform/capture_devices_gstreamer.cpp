// The device enumerator of the GStreamer capture layer. Its video input devices, in order: the
// source VELMORA_VIDEO_SOURCE describes, when set; the capture devices GStreamer's device
// monitor lists; and last, always, colour bars, so that a machine without a camera still shows
// a picture.
#include "platform/capture_gstreamer.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char kSourceVariable[] = "VELMORA_VIDEO_SOURCE";
const char kColourBars[] = "videotestsrc pattern=smpte";

// One device: either a launch description or a device the monitor listed. Binding makes its
// source filter.
class DeviceMoniker final : public IMoniker, protected capture::Counted {
  public:
    // prepared: the bin already made from description while listing, used by the first bind.
    DeviceMoniker(std::string description, GstElement* prepared)
        : description(std::move(description)), prepared(prepared) {}
    explicit DeviceMoniker(GstDevice* device) : device(GST_DEVICE(gst_object_ref(device))) {}
    ~DeviceMoniker() override {
        if (prepared)
            gst_object_unref(prepared);
        if (device)
            gst_object_unref(device);
    }
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
        GstElement* bin = makeBin();
        if (!bin)
            return E_FAIL;
        capture::SourceFilter* filter = capture::newSourceFilter(bin);
        const HRESULT result = static_cast<IBaseFilter*>(filter)->QueryInterface(iid, object);
        filter->Release();
        return result;
    }

  private:
    GstElement* makeBin() {
        if (prepared) {
            GstElement* bin = prepared;
            prepared = nullptr;
            return bin;
        }
        if (device)
            return capture::sourceBinFromDevice(device);
        std::string error;
        return capture::sourceBinFromDescription(description, error);
    }

    std::string description;
    GstElement* prepared = nullptr;
    GstDevice* device = nullptr;
};

// A device can capture when it offers raw video frames; other nodes of a camera (metadata,
// compressed-only outputs) are left out.
bool canCapture(GstDevice* device) {
    GstCaps* caps = gst_device_get_caps(device);
    bool raw = false;
    if (caps) {
        for (guint i = 0; i < gst_caps_get_size(caps) && !raw; ++i)
            raw = gst_structure_has_name(gst_caps_get_structure(caps, i), "video/x-raw");
        gst_caps_unref(caps);
    }
    return raw;
}

void addChosenSource(std::vector<IMoniker*>& monikers) {
    const char* chosen = std::getenv(kSourceVariable);
    if (!chosen || !*chosen)
        return;
    std::string error;
    if (GstElement* bin = capture::sourceBinFromDescription(chosen, error)) {
        monikers.push_back(new DeviceMoniker(chosen, bin));
        return;
    }
    // One line, whatever the message holds.
    for (char& c : error)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", kSourceVariable, error.c_str());
}

void addSystemDevices(std::vector<IMoniker*>& monikers) {
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    // Without starting the monitor this probes the devices once, right now.
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (canCapture(device))
            monikers.push_back(new DeviceMoniker(device));
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
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
        std::vector<IMoniker*> monikers;
        addChosenSource(monikers);
        addSystemDevices(monikers);
        monikers.push_back(new DeviceMoniker(kColourBars, nullptr));
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
