#include "app/frame_pacing.h"

#include "platform/display_session.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

const double kFallbackHz = 60;
const double kLowestDisplayHz = 30;
const double kHighestDisplayHz = 240;
const double kHighestSetting = 1000;
// A pass that ends less than this share of an interval before the next is due does not wait.
const int64_t kToleranceShare = 64;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The setting as it is shown in a message: one line, at most 40 bytes, unprintable bytes as '?'.
const char* shown(const char* setting) {
    static char text[41];
    size_t i = 0;
    for (; setting[i] && i + 1 < sizeof text; ++i) {
        const unsigned char byte = static_cast<unsigned char>(setting[i]);
        text[i] = byte >= 0x20 && byte < 0x7f ? setting[i] : '?';
    }
    text[i] = '\0';
    return text;
}

} // namespace

double chooseFrameRate(const char* setting, double displayHz, bool& rejected) {
    rejected = false;
    if (setting && *setting) {
        char* end = nullptr;
        errno = 0;
        const double rate = std::strtod(setting, &end);
        if (errno == 0 && *end == '\0' && end != setting && std::isfinite(rate) &&
            (rate == 0 || (rate >= 1 && rate <= kHighestSetting)))
            return rate;
        rejected = true;
    }
    if (!(displayHz > 0))
        return kFallbackHz;
    if (displayHz < kLowestDisplayHz)
        return kLowestDisplayHz;
    return displayHz > kHighestDisplayHz ? kHighestDisplayHz : displayHz;
}

FramePacing makeFramePacing(double passesPerSecond, int64_t startNs) {
    FramePacing pacing;
    if (passesPerSecond > 0)
        pacing.intervalNs = static_cast<int64_t>(std::llround(1e9 / passesPerSecond));
    pacing.passStartNs = startNs;
    return pacing;
}

int32_t passesIn(double seconds, const FramePacing& pacing) {
    const double perSecond = pacing.intervalNs > 0 ? 1e9 / pacing.intervalNs : kFallbackHz;
    const double passes = std::round(seconds * perSecond);
    return passes < 1 ? 1 : passes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(passes);
}

int64_t nextPassStart(FramePacing& pacing, int64_t nowNs) {
    const int64_t due = pacing.passStartNs + pacing.intervalNs;
    if (nowNs < due - pacing.intervalNs / kToleranceShare) {
        // Counted from when the pass is due rather than from when the sleep ends, so that the
        // sleep's own lateness does not add up, pass after pass.
        pacing.passStartNs = due;
        return due;
    }
    // A pass that ended less than one interval late is counted as begun when it was due, so that
    // the next passes make up for it; one later than that starts the count afresh, rather than
    // rushing through passes to catch up after a long stall. An early pass within the tolerance
    // counts from now: the swap that waited for the display sets the beat.
    pacing.passStartNs = nowNs >= due && nowNs - due < pacing.intervalNs ? due : nowNs;
    return nowNs;
}

FramePacing startFramePacing() {
    const char* setting = std::getenv("VELMORA_FRAME_RATE");
    const double displayHz = windowRefreshHz();
    bool rejected = false;
    const double rate = chooseFrameRate(setting, displayHz, rejected);
    if (rejected)
        std::fprintf(stderr,
                     "VELMORA_FRAME_RATE: '%s' is not a number of frames a second from 1 to 1000 "
                     "or 0 for none; pacing by the display, %.4g a second, instead\n",
                     shown(setting), rate);
    return makeFramePacing(rate, monotonicNs());
}

void waitForNextPass(FramePacing& pacing) {
    if (pacing.intervalNs == 0)
        return;
    const int64_t start = nextPassStart(pacing, monotonicNs());
    timespec until{};
    until.tv_sec = static_cast<time_t>(start / 1000000000);
    until.tv_nsec = static_cast<long>(start % 1000000000);
    // A signal's handler may interrupt the sleep; the deadline stays the same.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
