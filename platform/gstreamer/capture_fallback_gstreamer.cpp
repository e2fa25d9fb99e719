// The fallback of the GStreamer capture layer: of an ordered list of video sources, the first
// that gives frames is shown, unless the user chose another. What it gives up, and why, it says
// once on standard error; cameras plugged in, unplugged or changed are taken in here.
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

// How long a source that is open may take to give its first frame before the next one in order
// fills in, in microseconds.
const gint64 kPatience = 2 * G_USEC_PER_SEC;

// How a message about a source given up goes on when next is what the user will see next.
std::string goingOn(const VideoSource& next) {
    return next.kind == VideoSource::Kind::ColourBars ? "; showing colour bars"
                                                      : "; trying the next source";
}

} // namespace

void say(const std::string& words) {
    std::fprintf(stderr, "velmora: %s\n", words.c_str());
}

DeviceNews::~DeviceNews() {
    for (GstDevice* device : removed)
        gst_object_unref(device);
    for (const auto& change : changed) {
        gst_object_unref(change.first);
        gst_object_unref(change.second);
    }
}

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
        close(entry);
    active = nullptr;
    chosen = nullptr;
}

void SourceFallback::step(gint64 now, const DeviceNews& news) {
    // What the sources said comes first: a camera that failed and was then unplugged is given
    // up for its failure.
    for (size_t i = 0; i < entries.size(); ++i)
        watch(i, now);
    if (followsCameras)
        for (const SourcePtr& camera : news.added)
            join(camera);
    for (GstDevice* device : news.removed)
        leave(device);
    for (const auto& change : news.changed)
        replace(change.first, change.second);
    takeChoices();
    choose();
    if (chosen)
        openChosen();
    else
        openWhatIsNeeded(now);
    retryBusy(now);
}

// Takes in what happened to one open source: a failure gives it up; an end after frames keeps
// its last frame on the output, an end before any is a failure. A busy camera tried again says
// nothing unless it fails for another reason.
void SourceFallback::watch(size_t index, gint64 now) {
    Entry& entry = entries[index];
    if (!entry.open || (entry.givenUp && !entry.retrying))
        return;
    std::string reason;
    OpenSource::Event event = entry.open->nextEvent(reason);
    if (event == OpenSource::Event::Ended && !entry.open->delivered()) {
        event = OpenSource::Event::Failed;
        reason = "ended before its first picture";
    }
    if (entry.retrying) {
        const bool gave = event == OpenSource::Event::Nothing || event == OpenSource::Event::Ended;
        if (gave && entry.open->delivered()) {
            entry.givenUp = entry.busy = entry.retrying = false; // free at last
        } else if (event == OpenSource::Event::Busy) {
            close(entry);
            entry.retryAt = now + kBusyRetry;
        } else if (event != OpenSource::Event::Nothing) {
            close(entry);
            entry.busy = false;
            say(entry.source->label + " " + reason);
        }
        return;
    }
    // One that gave frames and ended stays on the output with its last one, as a film's last
    // picture.
    if (event == OpenSource::Event::Failed || event == OpenSource::Event::Busy) {
        entry.busy = event == OpenSource::Event::Busy;
        entry.retryAt = now + kBusyRetry;
        giveUp(index, reason);
    }
}

void SourceFallback::giveUp(size_t index, const std::string& reason) {
    Entry& entry = entries[index];
    entry.givenUp = true;
    close(entry);
    const bool wasShown = active == entry.source.get();
    if (wasShown)
        active = nullptr; // its last frame stays until another source gives one
    std::string next;
    if (chosen == entry.source.get() && wasShown) {
        // The chosen source failed on screen: the usual order applies again, from the top.
        chosen = nullptr;
        next = nextInLine(entries.size());
    } else if (chosen == entry.source.get()) {
        // Chosen but not shown yet: the next one after it is tried.
        chosen = nullptr;
        chooseAfter(index);
        if (chosen && chosen != active)
            next = goingOn(*chosen);
    } else {
        next = nextInLine(index);
    }
    say(entry.source->label + " " + reason + next);
}

void SourceFallback::close(Entry& entry) {
    if (entry.open) {
        entry.open->close();
        entry.open.reset();
    }
    entry.saidSlow = false;
    entry.retrying = false;
}

// How a message about the source at index goes on: what the user will see next, in the usual
// order. Past the end: the first source in order.
std::string SourceFallback::nextInLine(size_t index) const {
    for (size_t next = index < entries.size() ? index + 1 : 0; next < entries.size(); ++next)
        if (!entries[next].givenUp && next != index)
            return goingOn(*entries[next].source);
    return "";
}

size_t SourceFallback::indexOf(const VideoSource* source) const {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].source.get() == source)
            return i;
    return entries.size();
}

// The output shows the source the user chose once it gives frames, else the first source in
// order that gives frames. One that was shown gives way only to the chosen one or an earlier
// one (a camera plugged in, a slow one ready at last), which is said.
void SourceFallback::choose() {
    Entry* best = nullptr;
    Entry* shown = nullptr;
    for (Entry& entry : entries) {
        const bool gives = !entry.givenUp && entry.open && entry.open->delivered();
        if (!best && gives && (!chosen || entry.source.get() == chosen))
            best = &entry;
        if (active && entry.source.get() == active)
            shown = &entry;
    }
    if (!best && chosen)
        best = shown; // the chosen one is on its way: the picture stays until it delivers
    if (best == shown)
        return;
    if (shown && shown->open)
        shown->open->forward(false);
    if (best) {
        best->open->forward(true);
        if (shown || chosen)
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
        close(entries[i]);
}

// A camera plugged in takes its place after the cameras already listed that give colour, before
// those that give greyscale only and the bars.
void SourceFallback::join(const SourcePtr& camera) {
    auto place = entries.end();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->source->device && !it->givenUp && sameDevice(it->source->device, camera->device))
            return;
        const bool after = it->source->kind == VideoSource::Kind::ColourBars ||
                           (it->source->greyOnly && !camera->greyOnly);
        if (after && place == entries.end())
            place = it;
    }
    entries.insert(place, Entry{camera, nullptr});
}

// A camera unplugged leaves the list; when it was on the output, that is said. When it was
// chosen but not shown yet, the next one after it is.
void SourceFallback::leave(GstDevice* device) {
    for (size_t i = 0; i < entries.size(); ++i) {
        Entry& entry = entries[i];
        if (!entry.source->device || !sameDevice(entry.source->device, device))
            continue;
        if (!entry.givenUp && entry.source.get() == active) {
            giveUp(i, "was unplugged");
        } else {
            if (entry.source.get() == chosen)
                chooseAfter(i);
            close(entry);
        }
        if (chosen == entry.source.get())
            chosen = nullptr; // nothing else to choose: the usual order applies
        entries.erase(entries.begin() + static_cast<long>(i));
        return;
    }
}

// A camera whose device changed (its properties, say) stays as it is; the new device object
// stands for it from now on.
void SourceFallback::replace(GstDevice* old, GstDevice* device) {
    for (Entry& entry : entries) {
        if (!entry.source->device || !sameDevice(entry.source->device, old))
            continue;
        SourcePtr renewed = cameraSource(device, *entry.source);
        if (active == entry.source.get())
            active = renewed.get();
        if (chosen == entry.source.get())
            chosen = renewed.get();
        entry.source = std::move(renewed);
        return;
    }
}

} // namespace capture
