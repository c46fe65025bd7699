#pragma once
// The second Layer III encoder engine: plain functions on an opaque handle,
// returning 0 for success and small positive codes for failure. It takes
// float PCM (full scale 32768.0), one granule of at most 576 frames per call,
// and hands back whole frames. One thread per engine; no allocation after open.
#include <cstdint>

struct L3Engine;

// Word 4 is a 32-bit float (bandwidth in Hz, 0.0 automatic).
struct L3EngineParams {
    int32_t word[15];
};
enum L3EngineParamWord {
    kL3SampleRate = 0,
    kL3BitRate = 1,
    kL3InputChannels = 2,
    kL3CodedChannels = 3,
    kL3Bandwidth = 4,
    kL3IntensityOff = 5,
    kL3Vbr = 6,
    kL3VbrQuality = 7,
    kL3SplitSearch = 8,
    kL3PaddingMode = 9,
    kL3Crc = 10,
    kL3Private = 11,
    kL3Copyright = 12,
    kL3Original = 13,
};

struct L3EngineInfo {
    float bandwidth;
    int32_t delay;            // samples from input to decoded output
    int32_t minOutputBytes;   // smallest capacity L3EngineEncode accepts
    int32_t sequencePeriod;   // frames; 1 in padding mode 0
    int32_t frameBytes;       // padding modes 1 to 3; 1 in mode 0
};

int L3EngineOpen(L3Engine** handle, const L3EngineParams* params);
void L3EngineClose(L3Engine* handle);
// samples counts values (frames x input channels); 0 flushes. Results: 0,
// 1 bad sample count, 2 capacity below the smallest output, 4 overrun.
int L3EngineEncode(L3Engine* handle, const float* pcm, int samples, uint8_t* out, int capacity, int* written,
                   const uint8_t* ancillary, int* ancillaryCount);
int L3EngineGetInfo(L3Engine* handle, L3EngineInfo* info);
// Count followed by the byte length of each frame of the last encode call.
const int32_t* L3EngineGetFrameSizes(L3Engine* handle);

// Samples from the first input sample to the same sample in decoded output.
inline constexpr int kL3EngineDelay = 1633;  // measured through a decoder that trims nothing
