#pragma once
// Records that pass one granule between the second engine's stages: what the
// analysis hands the rate control, and what the rate control hands the frame
// formatting. Per frame at most 2 granules x 2 channels.
#include "mp3enc/bitmux/Huffman.h"

namespace l3 {

inline constexpr int kLines = 576;
inline constexpr int kLongBands = 22;   // band 21 carries no scale factor
inline constexpr int kShortBands = 13;  // band 12 carries no scale factor
inline constexpr int kShortRecords = kShortBands * 3;
inline constexpr int kNoBand = -9999;   // a band not worth coding

enum BlockType { kNormal = 0, kStart = 1, kShort = 2, kStop = 3 };

// One channel of an analysed granule. For short blocks the lines are in the
// order the stream carries them (band, window, line) and the band arrays hold
// one record per band and window, band by band.
struct AnalysisChannel {
    int blockType;
    float xr[kLines];
    int bandsInUse;         // long bands, or short bands per window
    int recordCount;        // kLongBands or kShortRecords
    int recordStart[kShortRecords + 1];  // first line of each record, plus the end
    float energy[kShortRecords];
    float threshold[kShortRecords];
};

struct AnalysisResult {
    int channels;
    bool midSide;
    // Intensity stereo of the frame: from each window's bound upward the left
    // channel carries both, the right channel's lines are zero and its scale
    // factors are the positions. A window without intensity has the band
    // count in use as its bound.
    bool intensity;
    int intensityBound[3];               // long blocks use [0]
    int intensityPos[kShortRecords];     // per record, as the right channel's records
    AnalysisChannel ch[2];
};

struct GranuleChannel {
    int q[kLines];
    int scalefac[kShortRecords];
    int globalGain;  // as written (G + 150)
    int scalefacScale;
    int preflag;
    int subblockGain[3];
    int scalefacCompress;
    int slen[4];
    int nrSfb[4];    // records per partition
    int blockType;
    int part23Length;
    HuffmanData huff;
};

struct GranuleResult {
    GranuleChannel ch[2];
    int totalBits;
};

}  // namespace l3
