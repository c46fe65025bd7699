#pragma once
// One granule and channel of the quantisation loop: its spectrum in coding
// order, its band records with their allowed distortions, and the steps the
// loop kernel drives: quantise and count, measure the distortion, amplify
// the distorted bands. All buffers are allocated at creation. One encoder's
// thread.
#include <cstdint>

#include "mp3enc/bitmux/Huffman.h"
#include "mp3enc/l3core/core/bitmux/GranuleInfo.h"
#include "mp3enc/l3core/core/bitmux/IsRecord.h"

inline constexpr int kMaxBandRecords = kMaxScalefactors + 3;  // short: 13 bands x 3 windows
inline constexpr int kMinGain = -150;
inline constexpr int kMaxGain = 105;

// What the loop reads of one granule and channel of the psychoacoustic model:
// the spectrum (short windows interleaved line by line: line k of window w of
// a band at start x 3 + 3k + w) and per band its energy and allowed
// distortion (22 long values, 13 per short window).
struct LoopChannelInput {
    int blockType;
    const float* spectrum;
    const float* energyLong;
    const float* distLong;
    const float* energyShort[3];
    const float* distShort[3];
    const IsRecord* intensity;  // right channel only; null without intensity
};

struct QuantBand {
    int first;
    int width;
    int peakLine;  // the line of the band's largest magnitude
    float allowed;
    float weight;  // 1 / allowed, or 0
    float energy;
};

struct ChannelLoop {
    int lowerRate;
    const int16_t* longStart;   // 23
    const int16_t* shortStart;  // 14
    int blockType;
    // The six arrays of 576 values.
    float* spectrum;  // coding order, signed
    float* magnitude;
    float* x34;  // magnitude^(3/4)
    int* negative;
    int* quantised;  // magnitudes of the last quantisation
    float* error;    // squared error per line of the last measure
    QuantBand band[kMaxBandRecords];
    HuffBand huffBand[kMaxBandRecords];
    int bandCount;        // records
    int scalefactorBands; // records that carry a scale factor
    int measuredBands;    // 21 long, 36 short, 0 for block types 4 to 6
    int extent;           // lines up to the highest non-zero pair
    int startGain;
    GranuleInfo info;  // the working one
};

// Null when a sample rate has no band table or memory runs out.
ChannelLoop* CreateChannelLoop(int sampleRate);
void DeleteChannelLoop(ChannelLoop* loop);
// Takes the spectrum and band values of one granule; the working info starts
// with the start gain and no scale factors. 0 for a block type outside 0 to 6.
int PrepareChannelLoop(ChannelLoop* loop, const LoopChannelInput& input);

void ComputeBandOffsets(const ChannelLoop* loop, GranuleInfo* info);
// Magnitudes of every line for the info's gain and band offsets.
void QuantiseLines(const ChannelLoop* loop, const GranuleInfo& info, int* out);
// Quantises with the info's gain, counts the Huffman bits and the scale-factor
// bits (scale factors restored); returns part2 + part3 and fills the info.
int QuantiseAndCount(ChannelLoop* loop, GranuleInfo* info, bool fullSearch);
// Distortion of the last quantisation, per measured band, into the info.
void MeasureDistortion(ChannelLoop* loop, GranuleInfo* info);
// Grows the scale factors of the distorted bands by the amplify mode (0 all
// distorted, 1 the worst, 2 the mean ratio when all audible bands are
// distorted, 3 every band); 1 when the working info took the result.
int AmplifyBands(ChannelLoop* loop, GranuleInfo* info, int mode);
