// The kinds of fake camera, one row each, and the process-wide facts they share: which fake
// cameras the environment asks for, and which have dropped out or arrived late.
#pragma once

#include <gst/gst.h>

#include <string>
#include <vector>

// What a fake camera offers: one caps structure per frame size.
enum class FakeCamModes {
    Raw43,  // video/x-raw YUY2 at 160x120, 320x240, 640x480
    Jpeg43, // image/jpeg at the same sizes
    Wide,   // video/x-raw YUY2 at 640x360 only
    Grey43, // video/x-raw GRAY8 at 160x120, 320x240, 640x480, as an infra-red camera
};

// What goes wrong with a fake camera, if anything.
enum class FakeCamFault {
    None,
    OpenFails,  // NULL to READY fails with an open error
    Busy,       // a busy error instead of the first frame
    Eos,        // end-of-stream instead of the first frame
    Dropout,    // a read error after VELMORA_FAKE_DROPOUT_SECONDS of frames; the device goes away
    BusyAWhile, // busy for VELMORA_FAKE_BUSY_SECONDS after monitoring starts, then free: the
                // first half at opening (as V4L2 says it), the second half at the first frame
    Unplugged,  // plugged in only while the file VELMORA_FAKE_PLUG_FILE exists (always, when the
                // variable is not set): a read error when it goes while streaming, an open error
                // while it is gone, and back when the file is made again
};

struct FakeCamKind {
    const char* keyword; // the word in VELMORA_FAKE_CAMERAS and the element's "kind" property
    FakeCamModes modes;  // the frame formats and sizes offered
    FakeCamFault fault;  // what goes wrong
    double openSeconds;  // how long NULL to READY blocks, in seconds
    bool arrivesLate;    // listed only VELMORA_FAKE_LATE_SECONDS after monitoring starts
    bool changes;        // its device changes (a new device object) once a second
};

// The kind with this keyword (ASCII case ignored), or null.
const FakeCamKind* fakeCamKind(const char* keyword);

// The keywords of all kinds, comma-separated, for messages.
std::string fakeCamKindList();

// "Fake <Keyword> Camera", the keyword's first letter in capitals: "Fake Mjpeg Camera".
std::string fakeCamDisplayName(const FakeCamKind& kind);

// Everything a camera offers, as a real camera's caps list it.
GstCaps* fakeCamCaps(const FakeCamKind& kind);

// One entry of VELMORA_FAKE_CAMERAS: its place in the list (the N of /dev/videoN) and its kind.
struct FakeCamEntry {
    int index;               // 0-based place in the variable
    const FakeCamKind* kind; // never null
};

// The cameras the environment asks for, read afresh on each call; an unknown keyword is skipped
// with one line on standard error (once per process) and keeps its place number.
std::vector<FakeCamEntry> fakeCamEntries();

// "/dev/video<index>".
std::string fakeCamPath(int index);

// A duration from the environment in seconds (fractions allowed), or fallback when unset or not
// a non-negative number (said once on standard error).
double fakeCamSeconds(const char* variable, double fallback);

// Whether the pluggable cameras are plugged in now: VELMORA_FAKE_PLUG_FILE is unset or names a
// file that exists. Read afresh on each call, so that a script can plug them in and out.
bool fakeCamPluggedIn();

// Whether a camera of this kind at this path is there now: not dropped out, and plugged in if it
// is a pluggable one.
bool fakeCamHere(const FakeCamKind& kind, const std::string& path);

// Records that the camera at this path has dropped out; it then stays gone for this process.
void fakeCamMarkDroppedOut(const std::string& path);
bool fakeCamDroppedOut(const std::string& path);

// Starts the clock of the late and the busy-for-a-while cameras, at the first start of
// monitoring in this process.
void fakeCamStartClock();
// Seconds since that clock started; 0 while it has not.
double fakeCamSecondsSinceStart();
// Seconds until late cameras arrive: 0 once they have, a negative number if the clock has not
// started.
double fakeCamSecondsUntilLate();
