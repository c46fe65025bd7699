#pragma once
// The nominal length of one coded frame of a format, with which the call
// engine sizes its delay buffers. Any thread.
#include <cstdint>

#include "common/Records.h"

// Milliseconds, truncated; 0 for an unknown coding type and for a sample rate
// (or, where it counts, a frame size) of 0 or less, where no duration exists.
uint32_t GetFrameDurationMs(const AudioFormat& format);
