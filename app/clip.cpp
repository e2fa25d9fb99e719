#include "app/clip.h"

#include "app/scene_state.h"
#include "draw/render.h"
#include "platform/clip_file.h"

#include <ctime>

namespace {

const int64_t kClipFrameNs = 1000000000 / 30; // the shortest spacing of frames: 30 a second

int readWidth = 0; // pixels of the view as read back, taken when a recording starts
int readHeight = 0;
int64_t lastPassNs = 0;  // when the pass before this one looked, monotonic clock
int64_t lastFrameNs = 0; // when the last frame was due

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
    lastFrameNs = monotonicNs() - kClipFrameNs;
}

} // namespace

bool clipFrameDue(int64_t sinceFrameNs, int64_t passNs) {
    return sinceFrameNs >= kClipFrameNs - passNs / 2;
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
    const int64_t pass = now - lastPassNs;
    lastPassNs = now;
    if (!scene.recording || !clipFrameDue(now - lastFrameNs, pass))
        return;
    lastFrameNs = now;
    uint8_t* pixels = claimClipFrame();
    if (!pixels)
        return; // dropped: the encoder still holds every buffer
    readBackPicture(pixels, readWidth, readHeight);
    writeClipFrame(pixels, now);
}
