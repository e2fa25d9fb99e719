// Pacing of the frame loop: at most one pass per refresh of the display, so that every
// animation, which counts passes, plays at the same speed whether or not the buffer swap waits
// for the display. Times are nanoseconds of the monotonic clock.
#pragma once

#include <cstdint>

struct FramePacing {
    int64_t intervalNs = 0;  // shortest time from one pass's start to the next's; 0: not paced
    int64_t passStartNs = 0; // when the pass now running began
};

// The passes a second the loop is held to: the number in setting (VELMORA_FRAME_RATE's text,
// decimals allowed; 0 turns pacing off) when it is one from 1 to 1000, else the display's refresh
// (displayHz; 0 when unknown, which gives 60) kept within 30 to 240. Sets rejected when setting
// is there but no such number, so that the caller can say so; a null or empty setting is unset.
double chooseFrameRate(const char* setting, double displayHz, bool& rejected);

// Pacing at passesPerSecond (0: not paced) with the first pass starting at startNs.
FramePacing makeFramePacing(double passesPerSecond, int64_t startNs);

// Called when a pass has ended, at nowNs: returns when the next pass may begin (nowNs when at
// once) and records when that pass counts as begun. A pass that took almost the whole interval is
// not made to wait, so that a swap which already waits for the display is never held past its
// refresh by the small difference between the display's clock and ours; the time of a pass that
// ran late by less than an interval is made up by the next passes.
int64_t nextPassStart(FramePacing& pacing, int64_t nowNs);

// Start-up: the rate from VELMORA_FRAME_RATE or the display of the open SDL window, with one
// line on standard error when the variable is not a usable number. Called once, after the
// display is open.
FramePacing startFramePacing();

// The running program's loop, after each pass: sleeps until the next pass may begin, at most one
// interval. Allocates nothing.
void waitForNextPass(FramePacing& pacing);

// How many passes of the pacing make the given seconds: at its rate, or at 60 a second where the
// loop is not paced. At least 1.
int32_t passesIn(double seconds, const FramePacing& pacing);
