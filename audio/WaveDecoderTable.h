#pragma once
// The WAV codings the compressed-WAV converter knows, one row per format tag:
// its name for messages and how a decoder is made for a given format.
#include <memory>

#include "audio/WaveDecoder.h"
#include "audio/WaveFormatInfo.h"

struct WaveDecoderRow {
    int formatTag;
    const char* name;
    // Null when this row cannot take the format's layout (block size, bits,
    // channels): the converter then refuses the file.
    std::unique_ptr<CWaveDecoder> (*make)(const WaveFormatInfo& format);
};

// The row of a tag (WAVE_FORMAT_EXTENSIBLE resolved to its sub-format), or null.
const WaveDecoderRow* FindWaveDecoder(int formatTag);
// The tag a format stands for: its own, or for 0xFFFE the sub-format's
// first word when the extra bytes carry one.
int ResolveWaveFormatTag(const WaveFormatInfo& format);
