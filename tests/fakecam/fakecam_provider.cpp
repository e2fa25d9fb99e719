// The fake camera devices and their provider. Monitoring adds the listed cameras at once, the
// late ones after their delay on a thread of the provider's own, changes the changing ones once
// a second on another, adds and removes the pluggable ones as their plug file comes and goes on a
// third, and removes a camera that drops out; probing answers the same list as it stands at that
// moment.
#include "fakecam_provider.h"

#include "fakecam_kinds.h"

#include <mutex>
#include <vector>

struct _FakeCamDevice {
    GstDevice parent;
    const FakeCamKind* kind; // never null
    int index;               // the N of /dev/videoN
};

G_DEFINE_TYPE(FakeCamDevice, fakecam_device, GST_TYPE_DEVICE)

struct _FakeCamProvider {
    GstDeviceProvider parent;
    GThread* lateThread;   // adds the late cameras; null when there are none to wait for
    GThread* changeThread; // changes the changing cameras; null when there are none
    GThread* plugThread;   // plugs the pluggable cameras in and out; null when there are none
    bool pluggedIn;        // whether the pluggable cameras were plugged in at the last look
    GMutex lock;           // guards stopping
    GCond wake;            // signalled when stopping is set
    bool stopping;         // tells the provider's threads to give up waiting
};

G_DEFINE_TYPE(FakeCamProvider, fakecam_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {

// The provider while it is monitoring (it is a singleton), for the dropout's removal.
std::mutex monitoringLock;
FakeCamProvider* monitoring = nullptr;

// A device object for the camera; change counts the changes of a changing camera, each of
// which gives it new properties.
GstDevice* makeDevice(const FakeCamEntry& entry, int change = 0) {
    const std::string path = fakeCamPath(entry.index);
    const std::string name = fakeCamDisplayName(*entry.kind);
    GstCaps* caps = fakeCamCaps(*entry.kind);
    GstStructure* properties = gst_structure_new(
        "velmorafakecam-proplist", "device.path", G_TYPE_STRING, path.c_str(), "api.v4l2.path",
        G_TYPE_STRING, path.c_str(), "velmora.fakecam.kind", G_TYPE_STRING, entry.kind->keyword,
        "velmora.fakecam.change", G_TYPE_INT, change, nullptr);
    auto* device = FAKECAM_DEVICE(g_object_new(FAKECAM_TYPE_DEVICE, "display-name", name.c_str(),
                                               "caps", caps, "device-class", "Video/Source",
                                               "properties", properties, nullptr));
    gst_caps_unref(caps);
    gst_structure_free(properties);
    device->kind = entry.kind;
    device->index = entry.index;
    return GST_DEVICE(device);
}

// The listed cameras that are here now; with late false, those that are always here.
std::vector<FakeCamEntry> presentEntries(bool late) {
    std::vector<FakeCamEntry> present;
    for (const FakeCamEntry& entry : fakeCamEntries())
        if (entry.kind->arrivesLate == late && fakeCamHere(*entry.kind, fakeCamPath(entry.index)))
            present.push_back(entry);
    return present;
}

GList* probe(GstDeviceProvider*) {
    std::vector<FakeCamEntry> entries;
    for (const FakeCamEntry& entry : fakeCamEntries()) {
        const bool here = !entry.kind->arrivesLate || fakeCamSecondsUntilLate() == 0.0;
        if (here && fakeCamHere(*entry.kind, fakeCamPath(entry.index)))
            entries.push_back(entry);
    }
    GList* devices = nullptr;
    for (const FakeCamEntry& entry : entries)
        devices = g_list_append(devices, gst_object_ref_sink(makeDevice(entry)));
    return devices;
}

// Waits out the late cameras' delay, unless monitoring stops first, then adds them.
gpointer addLateCameras(gpointer data) {
    auto* self = FAKECAM_PROVIDER(data);
    g_mutex_lock(&self->lock);
    for (;;) {
        const double seconds = fakeCamSecondsUntilLate();
        if (self->stopping || seconds == 0.0)
            break;
        g_cond_wait_until(&self->wake, &self->lock,
                          g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6) + 1);
    }
    const bool add = !self->stopping;
    g_mutex_unlock(&self->lock);
    if (add)
        for (const FakeCamEntry& entry : presentEntries(true))
            gst_device_provider_device_add(GST_DEVICE_PROVIDER(self), makeDevice(entry));
    return nullptr;
}

// The device object the provider lists now for the camera at path, with a reference, or null.
GstDevice* listedDevice(GstDeviceProvider* provider, const std::string& path) {
    GstDevice* found = nullptr;
    GST_OBJECT_LOCK(provider);
    for (GList* item = provider->devices; item && !found; item = item->next)
        if (fakeCamPath(FAKECAM_DEVICE(item->data)->index) == path)
            found = GST_DEVICE(gst_object_ref(item->data));
    GST_OBJECT_UNLOCK(provider);
    return found;
}

// Once a second until monitoring stops, every changing camera gets a new device object, as a
// provider announces a change of a camera's properties.
gpointer changeCameras(gpointer data) {
    auto* self = FAKECAM_PROVIDER(data);
    for (int change = 1;; ++change) {
        g_mutex_lock(&self->lock);
        const gint64 until = g_get_monotonic_time() + G_USEC_PER_SEC;
        while (!self->stopping && g_cond_wait_until(&self->wake, &self->lock, until))
            ;
        const bool stopping = self->stopping;
        g_mutex_unlock(&self->lock);
        if (stopping)
            return nullptr;
        for (const FakeCamEntry& entry : presentEntries(false)) {
            GstDevice* old = entry.kind->changes
                                 ? listedDevice(GST_DEVICE_PROVIDER(self), fakeCamPath(entry.index))
                                 : nullptr;
            if (!old)
                continue;
            gst_device_provider_device_changed(GST_DEVICE_PROVIDER(self), makeDevice(entry, change),
                                               old);
            gst_object_unref(old);
        }
    }
}

bool anyChanging() {
    for (const FakeCamEntry& entry : presentEntries(false))
        if (entry.kind->changes)
            return true;
    return false;
}

bool anyPluggable() {
    for (const FakeCamEntry& entry : fakeCamEntries())
        if (entry.kind->fault == FakeCamFault::Unplugged)
            return true;
    return false;
}

// Ten times a second until monitoring stops, looks whether the plug file is there: when it has
// come, the pluggable cameras are added; when it has gone, removed, as a provider of real
// cameras announces a camera plugged in or pulled out.
gpointer plugCameras(gpointer data) {
    auto* self = FAKECAM_PROVIDER(data);
    auto* provider = GST_DEVICE_PROVIDER(self);
    for (;;) {
        g_mutex_lock(&self->lock);
        const gint64 until = g_get_monotonic_time() + G_USEC_PER_SEC / 10;
        while (!self->stopping && g_cond_wait_until(&self->wake, &self->lock, until))
            ;
        const bool stopping = self->stopping;
        g_mutex_unlock(&self->lock);
        if (stopping)
            return nullptr;
        const bool pluggedIn = fakeCamPluggedIn();
        if (pluggedIn == self->pluggedIn)
            continue;
        self->pluggedIn = pluggedIn;
        for (const FakeCamEntry& entry : fakeCamEntries()) {
            const std::string path = fakeCamPath(entry.index);
            if (entry.kind->fault != FakeCamFault::Unplugged || fakeCamDroppedOut(path))
                continue;
            GstDevice* listed = listedDevice(provider, path);
            if (pluggedIn && !listed)
                gst_device_provider_device_add(provider, makeDevice(entry));
            else if (!pluggedIn && listed)
                gst_device_provider_device_remove(provider, listed);
            if (listed)
                gst_object_unref(listed);
        }
    }
}

gboolean start(GstDeviceProvider* provider) {
    auto* self = FAKECAM_PROVIDER(provider);
    fakeCamStartClock();
    // Looked at before the cameras are added, so that a change just after counts as one.
    self->pluggedIn = fakeCamPluggedIn();
    // Each is announced as added on the provider's bus, which the monitor passes on.
    for (const FakeCamEntry& entry : presentEntries(false))
        gst_device_provider_device_add(provider, makeDevice(entry));
    self->stopping = false;
    if (!presentEntries(true).empty())
        self->lateThread = g_thread_new("fakecam-late", addLateCameras, self);
    if (anyChanging())
        self->changeThread = g_thread_new("fakecam-changes", changeCameras, self);
    if (anyPluggable())
        self->plugThread = g_thread_new("fakecam-plug", plugCameras, self);
    std::lock_guard<std::mutex> hold(monitoringLock);
    monitoring = self;
    return TRUE;
}

void stop(GstDeviceProvider* provider) {
    auto* self = FAKECAM_PROVIDER(provider);
    {
        std::lock_guard<std::mutex> hold(monitoringLock);
        monitoring = nullptr;
    }
    g_mutex_lock(&self->lock);
    self->stopping = true;
    g_cond_broadcast(&self->wake);
    g_mutex_unlock(&self->lock);
    for (GThread** thread : {&self->lateThread, &self->changeThread, &self->plugThread}) {
        if (*thread)
            g_thread_join(*thread);
        *thread = nullptr;
    }
}

GstElement* createElement(GstDevice* device, const gchar* name) {
    auto* self = FAKECAM_DEVICE(device);
    GstElement* element = gst_element_factory_make("velmorafakecamsrc", name);
    if (element)
        g_object_set(element, "kind", self->kind->keyword, "device",
                     fakeCamPath(self->index).c_str(), nullptr);
    return element;
}

void finalizeProvider(GObject* object) {
    auto* self = FAKECAM_PROVIDER(object);
    g_mutex_clear(&self->lock);
    g_cond_clear(&self->wake);
    G_OBJECT_CLASS(fakecam_provider_parent_class)->finalize(object);
}

} // namespace

void fakeCamDeviceGone(const std::string& path) {
    fakeCamMarkDroppedOut(path);
    std::lock_guard<std::mutex> hold(monitoringLock);
    if (!monitoring)
        return;
    // The removal must name the very device object the provider added.
    GstDeviceProvider* provider = GST_DEVICE_PROVIDER(monitoring);
    GstDevice* gone = listedDevice(provider, path);
    if (gone) {
        gst_device_provider_device_remove(provider, gone);
        gst_object_unref(gone);
    }
}

static void fakecam_device_class_init(FakeCamDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = createElement;
}

static void fakecam_device_init(FakeCamDevice* self) {
    self->kind = fakeCamKind("raw");
    self->index = 0;
}

static void fakecam_provider_class_init(FakeCamProviderClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = finalizeProvider;
    auto* providerClass = GST_DEVICE_PROVIDER_CLASS(klass);
    providerClass->probe = probe;
    providerClass->start = start;
    providerClass->stop = stop;
    gst_device_provider_class_set_static_metadata(
        providerClass, "Velmora fake camera provider", "Video/Source",
        "Lists the fake cameras named in VELMORA_FAKE_CAMERAS", "Velmora developers");
}

static void fakecam_provider_init(FakeCamProvider* self) {
    g_mutex_init(&self->lock);
    g_cond_init(&self->wake);
    self->lateThread = nullptr;
    self->changeThread = nullptr;
    self->plugThread = nullptr;
    self->pluggedIn = true;
    self->stopping = false;
}
