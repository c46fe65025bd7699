#pragma once
// The running clock an encoder may place into a frame's ancillary bytes: two
// marker bytes, then the time in 1/90000 s as a 33-bit count (32 bits least
// significant byte first, then bit 32 on its own byte).
#include <cstddef>
#include <cstdint>

inline constexpr int kTimeStampBytes = 7;

struct TimeStamp {
    uint8_t bytes[8];  // 3, 2, count bits 0-31, bit 32, unused
    double seconds;
};
static_assert(sizeof(TimeStamp) == 16);
static_assert(offsetof(TimeStamp, seconds) == 8);

// Null when out of memory. Free with TimeStampFree.
TimeStamp* CreateTimeStamp();
// A rate of 0 or less (or not a number) leaves the stamp as it was.
void TimeStampAdvance(TimeStamp* stamp, int samples, float sampleRate);
void TimeStampCopy(const TimeStamp* stamp, uint8_t* destination);
void TimeStampFree(TimeStamp* stamp);
