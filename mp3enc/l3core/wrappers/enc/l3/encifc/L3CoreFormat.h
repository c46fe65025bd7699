#pragma once
// What the caller tells an l3core encoder about its PCM and its stream, and
// what the open encoder tells back.
#include <cstdint>

// Converts interleaved input to floats: whole sample frames only, at most
// room samples; reports the input bytes used and the samples written.
using L3CoreCast = void (*)(const void* input, int inputBytes, float* output, int room, int channels, int* bytesUsed,
                            int* samplesWritten);

inline constexpr int kL3CoreFloat = 0;
inline constexpr int kL3CoreInt16 = 1;

struct L3CoreInput {
    int32_t channels;    // interleaved in the PCM
    float sampleRate;    // Hz
    int32_t format;      // kL3CoreFloat, kL3CoreInt16, or anything else for cast
    float fullScale;     // the sample value that stands for full scale
    L3CoreCast cast;     // only for a format of neither kind
};

// Stereo-tool flags.
inline constexpr int kL3CoreMidSide = 1;
inline constexpr int kL3CoreIntensity = 2;
inline constexpr int kL3CoreDualChannel = 4;

struct L3CoreParams {
    int32_t channels;   // coded, 1 or 2
    float sampleRate;   // coded, Hz
    int32_t bitRate;    // bit/s, all channels
    int32_t reserved0;
    int32_t stereoTools;
    int32_t crc;
    int32_t hfs;            // Huffman full search after the last loop
    int32_t stampInterval;  // frames between time stamps; 0 none
    int32_t reserved1;
    int32_t reserved2;
};

struct L3CoreInfo {
    float bandwidth;      // Hz
    int32_t delay;        // samples
    int32_t paddingPeriod;  // frames
    int32_t paddingBytes;   // per period
    int32_t minOutputRoom;  // bytes
};
