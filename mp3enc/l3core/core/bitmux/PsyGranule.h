#pragma once
// What the bitstream encoder reads of one granule of the psychoacoustic
// model: per channel the block type, the spectrum (short windows interleaved
// line by line: line k of window w of a band lies at start x 3 + 3k + w), the
// band thresholds and the stereo flags, and the two demand parameter sets.
#include "mp3enc/l3core/core/bitmux/DemandParam.h"

inline constexpr int kLongBands = 21;
inline constexpr int kShortBands = 12;

struct PsyGranuleChannel {
    int blockType;
    const float* spectrum;               // 576 lines
    const float* thresholdLong;          // kLongBands
    const float* thresholdShort[3];      // kShortBands per window
    int midSide;
    int intensity;
};

struct PsyGranule {
    int channels;
    int granule;  // within the frame
    PsyGranuleChannel channel[2];
    DemandParam* demandLong;   // adapted by the bitstream encoder
    DemandParam* demandShort;
};
