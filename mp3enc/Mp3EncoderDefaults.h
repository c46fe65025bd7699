#pragma once
// Starting values of the Layer III encoder front end: the default bit rate of
// a new encoder and the defaults of its configuration block.
#include <cstdint>

// 14 signed 32-bit words; word 10 is a float.
struct Mp3EncoderConfig {
    int32_t sampleFormat;       // 0 int16, 1 float (full scale 32768.0)
    int32_t paddingMode;        // 0 standard, 1 never, 2 always
    int32_t intensityAllowed;
    int32_t jointStereo;        // kept; neither engine reads it
    int32_t monoFallback;
    int32_t crc;
    int32_t vbrQuality;         // 0 CBR, 1 to 100 VBR
    int32_t privateBit;
    int32_t copyrightBit;
    int32_t originalBit;
    float bandwidth;            // Hz; 0 lets the engine choose; written back at open
    int32_t delay;              // output: samples
    int32_t paddingPeriod;      // output of the library path
    int32_t paddingBytes;       // output of the library path
};
static_assert(sizeof(Mp3EncoderConfig) == 56);

// Bit rate for all channels, or 0 for a rate outside the table.
int Mp3DefaultBitrate(int sampleRate, int channels);
Mp3EncoderConfig* Mp3EncoderConfigInit(Mp3EncoderConfig* config);
