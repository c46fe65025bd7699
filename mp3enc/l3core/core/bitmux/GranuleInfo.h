#pragma once
// One granule and channel as the frame carries it: the side-information
// fields, the scale factors in the order they are written, and the Huffman
// split. The quantisation loop fills it; the frame writer lays it down.
#include "mp3enc/bitmux/Huffman.h"

inline constexpr int kMaxScalefactors = 39;  // 21 long, 12 x 3 short, or the mixed arrangement
inline constexpr int kNotIntensity = -1;

struct GranuleInfo {
    int lowerRate;  // MPEG-2 or 2.5
    int blockType;  // 0 .. 6, see FrameFormat.h
    int scalefacScale;
    // Long: by band. Short: band by band, the three windows of each band in
    // turn. Mixed: the long bands, then the short bands from band 3.
    int scalefac[kMaxScalefactors];
    int subblockGain[3];
    int scfsi[4];  // always 0: scale factors are never shared between granules
    int preflag;
    int globalGain;  // the written global_gain minus 150
    int scalefacCompress;
    int groupCount[4];  // scale factors per group (partition)
    int slen[4];        // bits per scale factor of each group
    int part2Length;    // scale-factor bits
    int mixedLongBands; // 8, or 6 for MPEG-2 and 2.5
    // Right channel of an intensity granule: per scale factor the intensity
    // position that replaces it, or kNotIntensity below the bound.
    int intensity;
    int isPosition[kMaxScalefactors];
    HuffmanData huffman;
    // Working values of the quantisation loop.
    int bandOffset[kMaxScalefactors + 3];  // quarter steps, per band record
    float maxRatio;         // largest distortion / allowed distortion
    float meanRatio;
    float meanDistortedRatio;
    int measuredBands;
    int audibleBands;       // energy above the allowed distortion
    int distortedBands;     // ratio above 1.0
};
