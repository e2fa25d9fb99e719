// The fallback of the GStreamer capture layer: of an ordered list of video sources, the first
// that gives frames is shown. What it gives up, and why, it says once on standard error.
#include "platform/capture_sources_gstreamer.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

// How long a source that is open may take to give its first frame before the next one in order
// fills in, in microseconds.
const gint64 kPatience = 2 * G_USEC_PER_SEC;

void say(const std::string& line) {
    std::fprintf(stderr, "velmora: %s\n", line.c_str());
}

bool sameDevice(GstDevice* a, GstDevice* b) {
    if (a == b)
        return true;
    gchar* nameA = gst_device_get_display_name(a);
    gchar* nameB = gst_device_get_display_name(b);
    GstStructure* propertiesA = gst_device_get_properties(a);
    GstStructure* propertiesB = gst_device_get_properties(b);
    const bool same = g_strcmp0(nameA, nameB) == 0 && propertiesA && propertiesB &&
                      gst_structure_is_equal(propertiesA, propertiesB);
    g_free(nameA);
    g_free(nameB);
    if (propertiesA)
        gst_structure_free(propertiesA);
    if (propertiesB)
        gst_structure_free(propertiesB);
    return same;
}

} // namespace

SourceFallback::SourceFallback(std::vector<SourcePtr> order, bool followsCameras,
                               GstElement* output)
    : followsCameras(followsCameras), output(GST_ELEMENT(gst_object_ref(output))) {
    for (SourcePtr& source : order)
        entries.push_back({std::move(source), nullptr});
}

SourceFallback::~SourceFallback() {
    gst_object_unref(output);
}

void SourceFallback::start(int32_t newWidth, int32_t newHeight) {
    if (started)
        return;
    started = true;
    width = newWidth;
    height = newHeight;
    GstCaps* caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT,
                            width, "height", G_TYPE_INT, height, "pixel-aspect-ratio",
                            GST_TYPE_FRACTION, 1, 1, "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(output), caps);
    gst_caps_unref(caps);
    supervise(shared_from_this());
}

void SourceFallback::stop() {
    stopSupervising(this);
    for (Entry& entry : entries)
        if (entry.open) {
            entry.open->close();
            entry.open.reset();
        }
    active = nullptr;
}

void SourceFallback::step(gint64 now, const std::vector<SourcePtr>& added,
                          const std::vector<GstDevice*>& removed) {
    // What the sources said comes first: a camera that failed and was then unplugged is given
    // up for its failure.
    for (size_t i = 0; i < entries.size(); ++i)
        watch(i);
    if (followsCameras)
        for (const SourcePtr& camera : added)
            join(camera);
    for (GstDevice* device : removed)
        leave(device);
    choose();
    openWhatIsNeeded(now);
}

// Takes in what happened to one open source: a failure gives it up; an end after frames keeps
// its last frame on the output, an end before any is a failure.
void SourceFallback::watch(size_t index) {
    Entry& entry = entries[index];
    if (!entry.open || entry.givenUp)
        return;
    std::string reason;
    switch (entry.open->nextEvent(reason)) {
    case OpenSource::Event::Failed:
        giveUp(index, reason);
        break;
    case OpenSource::Event::Ended:
        // One that gave frames stays on the output with its last one, as a film's last picture.
        if (!entry.open->delivered())
            giveUp(index, "ended before its first picture");
        break;
    case OpenSource::Event::Nothing:
        break;
    }
}

void SourceFallback::giveUp(size_t index, const std::string& reason) {
    Entry& entry = entries[index];
    entry.givenUp = true;
    if (entry.open) {
        entry.open->close();
        entry.open.reset();
    }
    if (active == entry.source.get())
        active = nullptr; // its last frame stays until another source gives one
    say(entry.source->label + " " + reason + nextInLine(index));
}

// How a message about the source at index goes on: what the user will see next.
std::string SourceFallback::nextInLine(size_t index) const {
    for (size_t next = index + 1; next < entries.size(); ++next)
        if (!entries[next].givenUp)
            return entries[next].source->kind == VideoSource::Kind::ColourBars
                       ? "; showing colour bars"
                       : "; trying the next source";
    return "";
}

// The output shows the first source in order that gives frames. One that was shown gives way
// only to an earlier one (a camera plugged in, a slow one ready at last), which is said.
void SourceFallback::choose() {
    Entry* best = nullptr;
    Entry* shown = nullptr;
    for (Entry& entry : entries) {
        if (!best && !entry.givenUp && entry.open && entry.open->delivered())
            best = &entry;
        if (active && entry.source.get() == active)
            shown = &entry;
    }
    if (best == shown)
        return;
    if (shown && shown->open)
        shown->open->forward(false);
    if (best) {
        best->open->forward(true);
        if (shown)
            say("now showing " + best->source->label);
    }
    active = best ? best->source.get() : nullptr;
}

// Opens sources in order up to the one on the output: one at a time, each given its time to
// give a first frame before the next is opened beside it. Those after the output's, and after
// the ones still awaited when nothing is shown, are closed.
void SourceFallback::openWhatIsNeeded(gint64 now) {
    size_t i = 0;
    for (; i < entries.size(); ++i) {
        Entry& entry = entries[i];
        if (entry.givenUp)
            continue;
        if (entry.source.get() == active)
            break;
        if (!entry.open) {
            std::string error;
            entry.open = OpenSource::open(*entry.source, width, height, output, error);
            if (!entry.open)
                giveUp(i, "could not be made: " + error);
            else
                break;
        } else if (entry.open->delivered() || now - entry.open->openedAt() < kPatience) {
            break;
        } else if (!entry.saidSlow && !nextInLine(i).empty()) {
            // With nothing after it, there is nothing to say: it is waited for.
            entry.saidSlow = true;
            say(entry.source->label + " gives no picture yet" + nextInLine(i) + " meanwhile");
        }
    }
    // The source on the output stays open until one before it gives frames.
    for (size_t shown = i; shown < entries.size(); ++shown)
        if (entries[shown].source.get() == active)
            i = shown;
    for (++i; i < entries.size(); ++i)
        if (entries[i].open) {
            entries[i].open->close();
            entries[i].open.reset();
            entries[i].saidSlow = false;
        }
}

// A camera plugged in takes its place after the cameras already listed, before the bars.
void SourceFallback::join(const SourcePtr& camera) {
    auto place = entries.end();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->source->device && !it->givenUp && sameDevice(it->source->device, camera->device))
            return;
        if (it->source->kind == VideoSource::Kind::ColourBars && place == entries.end())
            place = it;
    }
    entries.insert(place, Entry{camera, nullptr});
}

// A camera unplugged leaves the list; when it was on the output, that is said.
void SourceFallback::leave(GstDevice* device) {
    for (size_t i = 0; i < entries.size(); ++i) {
        Entry& entry = entries[i];
        if (!entry.source->device || !sameDevice(entry.source->device, device))
            continue;
        if (!entry.givenUp && entry.source.get() == active)
            giveUp(i, "was unplugged");
        else if (entry.open)
            entry.open->close();
        entries.erase(entries.begin() + static_cast<long>(i));
        return;
    }
}

} // namespace capture
