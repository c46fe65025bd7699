#pragma once
// The bound on a call's start. Between link-up and audio a call exchanges
// formats and, over TCP, may measure delay and bandwidth; every byte the
// peer sends restarts the transport's receive time-out, so a peer that
// trickles bytes could hold the station there for ever, with no audio and
// no line for anyone else. The guard ends any start that takes longer than
// kCallStartTimeoutMs, however the bytes arrive.
//
// Worker thread of the call engine only.
#include <cstdint>

#include "common/Stopwatch.h"

// The delay measurement ends by its fiftieth exchange, or its sixteenth once
// ten seconds have passed, and the bandwidth measurement takes six seconds:
// a start that runs normally is over in about 25 s. A minute leaves the far
// operator more than half of it to answer a low-bandwidth warning.
constexpr uint32_t kCallStartTimeoutMs = 60000;

class CCallStartGuard {
public:
    // Link up (and a check restarted by this station's own operator).
    void Arm() { m_watch.Start(kCallStartTimeoutMs); }
    // Audio flows, the call ended, or the start now waits on this station's operator.
    void Disarm() { m_watch.Stop(); }
    bool IsArmed() const { return m_watch.IsRunning() != 0; }
    // True once, when the bound has passed while armed; the guard is then disarmed.
    bool TakeExpiry();

private:
    CStopwatch m_watch;
};
