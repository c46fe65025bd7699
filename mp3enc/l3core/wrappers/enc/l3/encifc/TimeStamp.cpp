#include "mp3enc/l3core/wrappers/enc/l3/encifc/TimeStamp.h"

#include <cmath>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

TimeStamp* CreateTimeStamp() {
    auto* stamp = static_cast<TimeStamp*>(AlignedCalloc(1, sizeof(TimeStamp), __FILE__, __LINE__));
    if (!stamp) return nullptr;
    stamp->bytes[0] = 3;
    stamp->bytes[1] = 2;
    return stamp;
}

void TimeStampAdvance(TimeStamp* stamp, int samples, float sampleRate) {
    if (!stamp || !(sampleRate > 0.0f)) return;
    stamp->seconds += static_cast<double>(samples) / sampleRate;
    // The count wraps at 2^33; a clock run backwards by a caller stops at 0.
    const double ticks = std::fmod(std::floor(stamp->seconds * 90000.0), 8589934592.0);
    uint64_t count = ticks > 0.0 ? static_cast<uint64_t>(ticks) : 0;
    for (int i = 2; i < 6; ++i) {
        stamp->bytes[i] = static_cast<uint8_t>(count % 256);
        count /= 256;
    }
    stamp->bytes[6] = static_cast<uint8_t>(count % 2);
}

void TimeStampCopy(const TimeStamp* stamp, uint8_t* destination) {
    if (stamp && destination) std::memcpy(destination, stamp->bytes, kTimeStampBytes);
}

void TimeStampFree(TimeStamp* stamp) { AlignedFree(stamp); }
