#pragma once
// The fields of a WAV "fmt " chunk that the converter reads: the fixed
// WAVEFORMATEX words and the extra bytes after them (the ADPCM codings keep
// their block layout and coefficients there).
#include <cstdint>

struct WaveFormatInfo {
    int formatTag = 0;
    int channels = 0;
    int sampleRate = 0;
    int blockAlign = 0;
    int bitsPerSample = 0;
    const uint8_t* extra = nullptr;
    int extraBytes = 0;
};
