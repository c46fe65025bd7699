#pragma once
// The delay measurement and bandwidth arithmetic of a buffered TCP call as
// plain functions over the delay frame the two stations bounce: the call
// engine sends and receives the frames, these decide. Any thread.
#include <cstdint>

#include "net/ControlFrame.h"

struct DelayStep {
    bool reply = false;     // send the (updated) frame back
    bool finished = false;  // the measurement is over: maxMs and minMs stand
    uint32_t maxMs = 0;
    uint32_t minMs = 0;
};

// Takes a delay frame that arrived at `now`. The caller counts the exchanges
// and ends them after 50, or after 15 once timeUp; from the eleventh on, the
// round trips (each side times its own) widen the frame's maximum and minimum.
DelayStep AdvanceDelayFrame(DelayFrame& frame, uint32_t now, bool answering, bool timeUp);

// Bits over milliseconds as bit/s, in 64 bits: no wrap however much came,
// and a counting period that just began cannot divide by zero.
int BitRateOf(int64_t bits, uint32_t ms);
