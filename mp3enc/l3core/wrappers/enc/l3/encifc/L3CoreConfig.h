#pragma once
// The settings of one l3core encoder that the caller sets by parameter index
// before it checks the bit rate and opens. Any thread; allocates.
#include <cstdint>

#include "mp3enc/util/EncError.h"

struct L3CoreConfig {
    int32_t quality;         // 0 to 9
    int32_t intensityOff;    // 1 forbids intensity stereo
    float bandwidth;         // Hz; 0.0 or less lets the model choose
    int32_t monoFallback;    // kept for the caller; no stage reads it
    int32_t paddingMode;     // 0 as the standard says, 1 never pad, 2 always pad
    int32_t optionScope;     // 1: open begins and ends an option scope
    int32_t headerBits;      // bit 0 private, bit 1 copyright, bit 2 original
    int32_t emphasis;
};
static_assert(sizeof(L3CoreConfig) == 32);

// Parameter indexes of L3CoreSetConfigParam.
inline constexpr int kL3CoreQuality = 0;
inline constexpr int kL3CoreIntensityOff = 2;  // no value
inline constexpr int kL3CoreMonoFallback = 3;  // no value
inline constexpr int kL3CorePadding = 4;
inline constexpr int kL3CoreNoOptionScope = 5;  // no value
inline constexpr int kL3CoreHeaderBits = 6;
inline constexpr int kL3CoreEmphasis = 7;
inline constexpr int kL3CoreBandwidth = 8;  // the value is a float

EncError* L3CoreCreateConfig(L3CoreConfig** out);
// value points to an int, or to a float for the bandwidth; parameters 2, 3
// and 5 take none. A value out of its range is refused and nothing changes.
EncError* L3CoreSetConfigParam(L3CoreConfig* config, int index, const void* value);
void L3CoreFreeConfig(L3CoreConfig* config);
// The defaults, for a caller that gives no configuration.
L3CoreConfig L3CoreDefaultConfig();
