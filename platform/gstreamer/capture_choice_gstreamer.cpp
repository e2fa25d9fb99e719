// The sources the fallback tries out of turn: the one the user chooses with a key press, and
// the busy cameras it opens again every few seconds.
#include "platform/gstreamer/capture_sources_gstreamer.h"

namespace capture {

// Every press since the last step moves the choice on by one source.
void SourceFallback::takeChoices() {
    for (unsigned presses = choiceRequests.exchange(0); presses > 0; --presses) {
        size_t base = indexOf(chosen ? chosen : active);
        for (size_t i = 0; base == entries.size() && i < entries.size(); ++i)
            if (entries[i].open && !entries[i].givenUp)
                base = i; // nothing shown yet: the source being waited for
        const VideoSource* before = chosen ? chosen : active;
        const VideoSource* previous = chosen;
        chooseAfter(base);
        if (!chosen || chosen == before) {
            chosen = previous;
            say(active ? "no other source to show; still showing " + active->label
                       : "no other source to show");
        } else if (chosen == active) {
            say("now showing " + active->label); // back to the one on screen
        }
    }
}

// The user's choice moves to the first source after index, round the order, that may give
// pictures: one not given up, or a camera given up only for being busy. None: no choice.
void SourceFallback::chooseAfter(size_t index) {
    chosen = nullptr;
    const size_t count = entries.size();
    for (size_t step = 1; step <= count; ++step) {
        const size_t i = index < count ? (index + step) % count : step - 1;
        Entry& entry = entries[i];
        if (i == index || (entry.givenUp && !entry.busy))
            continue;
        if (entry.givenUp) {
            // Asked for by the user: tried again at once, and said if still busy.
            close(entry);
            entry.givenUp = entry.busy = false;
        }
        chosen = entry.source.get();
        return;
    }
}

// With a source chosen, only it is open, and the one on screen until the chosen one delivers.
void SourceFallback::openChosen() {
    const size_t index = indexOf(chosen);
    if (index < entries.size() && !entries[index].open) {
        std::string error;
        entries[index].open =
            OpenSource::open(*entries[index].source, width, height, output, error);
        if (!entries[index].open)
            giveUp(index, "could not be made: " + error);
    }
    for (Entry& entry : entries)
        if (entry.open && entry.source.get() != chosen && entry.source.get() != active)
            close(entry);
}

// While another source is shown, a busy camera before it is opened again every few seconds,
// quietly; when it gives frames it takes over as a camera plugged in would. Not while the
// user's choice stands.
void SourceFallback::retryBusy(gint64 now) {
    if (chosen || !active)
        return;
    const size_t shown = indexOf(active);
    for (size_t i = 0; i < shown; ++i) {
        Entry& entry = entries[i];
        if (!entry.busy || entry.retrying || now < entry.retryAt)
            continue;
        std::string error;
        entry.open = OpenSource::open(*entry.source, width, height, output, error);
        entry.retrying = entry.open != nullptr;
        entry.retryAt = now + kBusyRetry;
    }
}

} // namespace capture
