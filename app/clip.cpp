#include "app/clip.h"

#include "app/scene_state.h"
#include "draw/render.h"
#include "platform/clip_file.h"

#include <ctime>

namespace {

const int64_t kClipFrameNs = 1000000000 / 30; // the shortest spacing of frames: 30 a second

int readWidth = 0; // pixels of the view as read back, taken when a recording starts
int readHeight = 0;
ClipPace pace;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// R: starts a recording, whose first frame is due at once, or stops the one that runs.
void startOrStop() {
    if (scene.recording) {
        stopClip();
        scene.recording = false;
        return;
    }
    pictureSize(readWidth, readHeight);
    scene.recording = startClip(readWidth, readHeight, scene.width, scene.height);
    scene.markPasses = 0;
    pace.nextFrameNs = monotonicNs();
}

} // namespace

bool clipFrameDue(ClipPace& pace, int64_t nowNs) {
    const int64_t halfPass = (nowNs - pace.lastPassNs) / 2;
    pace.lastPassNs = nowNs;
    if (nowNs < pace.nextFrameNs - halfPass)
        return false;
    const bool stalled = nowNs - pace.nextFrameNs > kClipFrameNs;
    pace.nextFrameNs = (stalled ? nowNs : pace.nextFrameNs) + kClipFrameNs;
    return true;
}

void recordFrameIfDue() {
    for (; scene.recordPresses > 0; --scene.recordPresses)
        startOrStop();
    // A recording that stopped by itself (said on standard error) lets go of its mark.
    if (scene.recording && !clipRecording()) {
        stopClip();
        scene.recording = false;
    }
    const int64_t now = monotonicNs();
    if (!clipFrameDue(pace, now) || !scene.recording)
        return;
    uint8_t* pixels = claimClipFrame();
    if (!pixels)
        return; // dropped: the encoder still holds every buffer
    readBackPicture(pixels, readWidth, readHeight);
    writeClipFrame(pixels, now);
}
