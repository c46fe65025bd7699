#pragma once
// Threshold tuning record of one bit-rate class and block kind: what the
// psychoacoustic model's threshold, spreading, tonality and pre-echo steps
// work from. Options of the model overwrite single fields.
#include <cstddef>
#include <cstdint>

inline constexpr int kThrBarks = 25;

struct ThrParam {
    float toneLimitHz;         // 0: tonality computed below this frequency
    float quietOffsetDb;       // 1
    float quietDb[kThrBarks];  // 2: threshold in quiet per Bark, dB SPL (16-bit full scale ~ 96 dB)
    float bmax[kThrBarks];     // 27: raised for stereo
    int32_t oneSided;          // 52: spreading towards low frequencies off
    int32_t noHole;            // 53
    float maskLow;             // 54: spreading slope factor below the masker
    float maskHigh;            // 55: above it
    float defaultChaos;        // 56
    int32_t bandLimit;         // 57: negative counts from the end
    float factor[kThrBarks];   // 58: per Bark, in hundredths
    float tmnDb;               // 83
    float tmnOffsetDb;         // 84
    float tmnSlopeDb;          // 85: per Bark
    float nmtDb;               // 86
    float secondMaskDb;        // 87
    int32_t overrideFirst;     // 88: negative: no override range
    int32_t overrideEnd;       // 89
    float overrideDb;          // 90
    float preEchoMin;          // 91: "rpmin"
    float preEchoRatio[kThrBarks];  // 92: "rpre"
    float preEchoBack2;        // 117: factor on the threshold two blocks back
    int32_t cbMode;            // 118
    int32_t chaosMethod;       // 119
    float combLimitHz;         // 120
};
static_assert(sizeof(ThrParam) == 121 * 4);
static_assert(offsetof(ThrParam, bmax) == 27 * 4);
static_assert(offsetof(ThrParam, defaultChaos) == 56 * 4);
static_assert(offsetof(ThrParam, nmtDb) == 86 * 4);
static_assert(offsetof(ThrParam, preEchoMin) == 91 * 4);
static_assert(offsetof(ThrParam, preEchoBack2) == 117 * 4);
static_assert(offsetof(ThrParam, chaosMethod) == 119 * 4);

// Bit-rate class of a rate per channel (the first that holds it), 0 to 9, or
// -1 outside 8000 to 320000 bit/s.
int ThrParamClass(int bitRatePerChannel);
// A fresh copy for block kinds 0, 1, 3 (long) or 2 (short); with the stereo
// flag bmax is raised for the lowest Barks. Null for no class or no memory.
ThrParam* ThrParamCreate(int blockKind, int bitRatePerChannel, int stereo);
void ThrParamFree(ThrParam* record);
