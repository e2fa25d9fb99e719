// The kinds of fake camera and the process-wide facts about which exist.
#include "fakecam_kinds.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

// A new kind of fake camera is one row here.
const FakeCamKind kKinds[] = {
    // keyword, modes offered, fault, seconds to open, arrives late, changes
    {"raw", FakeCamModes::Raw43, FakeCamFault::None, 0.0, false, false},
    {"mjpeg", FakeCamModes::Jpeg43, FakeCamFault::None, 0.0, false, false},
    {"unopenable", FakeCamModes::Raw43, FakeCamFault::OpenFails, 0.0, false, false},
    {"busy", FakeCamModes::Raw43, FakeCamFault::Busy, 0.0, false, false},
    {"dropout", FakeCamModes::Raw43, FakeCamFault::Dropout, 0.0, false, false},
    {"eos", FakeCamModes::Raw43, FakeCamFault::Eos, 0.0, false, false},
    {"slow", FakeCamModes::Raw43, FakeCamFault::None, 1.5, false, false},
    {"wide", FakeCamModes::Wide, FakeCamFault::None, 0.0, false, false},
    {"late", FakeCamModes::Raw43, FakeCamFault::None, 0.0, true, false},
    {"grey", FakeCamModes::Grey43, FakeCamFault::None, 0.0, false, false},
    {"freed", FakeCamModes::Raw43, FakeCamFault::BusyAWhile, 0.0, false, false},
    {"changing", FakeCamModes::Raw43, FakeCamFault::None, 0.0, false, true},
    {"pluggable", FakeCamModes::Raw43, FakeCamFault::Unplugged, 0.0, false, false},
};

// One frame size of a camera and the frame rates it runs at there.
struct Mode {
    int width;
    int height;
    std::vector<int> rates; // frames per second; the first is the one chosen when free
};

std::vector<Mode> modesOf(FakeCamModes modes) {
    if (modes == FakeCamModes::Wide)
        return {{640, 360, {30, 15}}};
    return {{160, 120, {30, 15, 60}}, {320, 240, {30, 15}}, {640, 480, {30, 15}}};
}

std::mutex stateLock;
std::set<std::string> droppedOut; // paths of the cameras that dropped out
gint64 clockStart = -1;           // monotonic microseconds; -1: not started
std::set<std::string> saidOnce;   // the warnings already written

void sayOnce(const std::string& line) {
    std::lock_guard<std::mutex> hold(stateLock);
    if (saidOnce.insert(line).second)
        std::fprintf(stderr, "velmorafakecam: %s\n", line.c_str());
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

const FakeCamKind* fakeCamKind(const char* keyword) {
    if (!keyword)
        return nullptr;
    for (const FakeCamKind& kind : kKinds)
        if (g_ascii_strcasecmp(kind.keyword, keyword) == 0)
            return &kind;
    return nullptr;
}

std::string fakeCamKindList() {
    std::string list;
    for (const FakeCamKind& kind : kKinds)
        list += (list.empty() ? "" : ", ") + std::string(kind.keyword);
    return list;
}

std::string fakeCamDisplayName(const FakeCamKind& kind) {
    std::string word = kind.keyword;
    word[0] = g_ascii_toupper(word[0]);
    return "Fake " + word + " Camera";
}

GstCaps* fakeCamCaps(const FakeCamKind& kind) {
    GstCaps* caps = gst_caps_new_empty();
    for (const Mode& mode : modesOf(kind.modes)) {
        GValue rates = G_VALUE_INIT;
        gst_value_list_init(&rates, mode.rates.size());
        for (int rate : mode.rates) {
            GValue value = G_VALUE_INIT;
            g_value_init(&value, GST_TYPE_FRACTION);
            gst_value_set_fraction(&value, rate, 1);
            gst_value_list_append_and_take_value(&rates, &value);
        }
        const char* format = kind.modes == FakeCamModes::Grey43 ? "GRAY8" : "YUY2";
        GstStructure* s =
            kind.modes == FakeCamModes::Jpeg43
                ? gst_structure_new_empty("image/jpeg")
                : gst_structure_new("video/x-raw", "format", G_TYPE_STRING, format, nullptr);
        gst_structure_set(s, "width", G_TYPE_INT, mode.width, "height", G_TYPE_INT, mode.height,
                          "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
        gst_structure_take_value(s, "framerate", &rates);
        gst_caps_append_structure(caps, s);
    }
    return caps;
}

std::vector<FakeCamEntry> fakeCamEntries() {
    std::vector<FakeCamEntry> entries;
    const char* variable = std::getenv("VELMORA_FAKE_CAMERAS");
    if (!variable || !*variable)
        return entries;
    const std::string list = variable;
    int index = 0;
    for (size_t start = 0; start <= list.size(); ++index) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string word = trimmed(list.substr(start, end - start));
        if (const FakeCamKind* kind = fakeCamKind(word.c_str()))
            entries.push_back({index, kind});
        else
            sayOnce("VELMORA_FAKE_CAMERAS: no fake camera kind \"" + word +
                    "\" (kinds: " + fakeCamKindList() + ")");
        start = end + 1;
    }
    return entries;
}

std::string fakeCamPath(int index) {
    return "/dev/video" + std::to_string(index);
}

double fakeCamSeconds(const char* variable, double fallback) {
    const char* text = std::getenv(variable);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const double seconds = g_ascii_strtod(text, &end);
    if (*end != '\0' || !(seconds >= 0.0) || seconds > 1e6) {
        sayOnce(std::string(variable) + ": \"" + text + "\" is not a number of seconds; using " +
                std::to_string(fallback));
        return fallback;
    }
    return seconds;
}

bool fakeCamPluggedIn() {
    const char* file = std::getenv("VELMORA_FAKE_PLUG_FILE");
    return !file || !*file || access(file, F_OK) == 0;
}

bool fakeCamHere(const FakeCamKind& kind, const std::string& path) {
    if (fakeCamDroppedOut(path))
        return false;
    return kind.fault != FakeCamFault::Unplugged || fakeCamPluggedIn();
}

void fakeCamMarkDroppedOut(const std::string& path) {
    std::lock_guard<std::mutex> hold(stateLock);
    droppedOut.insert(path);
}

bool fakeCamDroppedOut(const std::string& path) {
    std::lock_guard<std::mutex> hold(stateLock);
    return droppedOut.count(path) > 0;
}

void fakeCamStartClock() {
    std::lock_guard<std::mutex> hold(stateLock);
    if (clockStart < 0)
        clockStart = g_get_monotonic_time();
}

double fakeCamSecondsSinceStart() {
    std::lock_guard<std::mutex> hold(stateLock);
    return clockStart < 0 ? 0.0 : (g_get_monotonic_time() - clockStart) / 1e6;
}

double fakeCamSecondsUntilLate() {
    const double delay = fakeCamSeconds("VELMORA_FAKE_LATE_SECONDS", 3.0);
    std::lock_guard<std::mutex> hold(stateLock);
    if (clockStart < 0)
        return -1.0;
    const double waited = (g_get_monotonic_time() - clockStart) / 1e6;
    return waited >= delay ? 0.0 : delay - waited;
}
