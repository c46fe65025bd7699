#pragma once
// Coding parameter record of one bit rate, sample rate and block kind: the
// bandwidth first, then the values the bitstream encoder and the loop read
// (peMin, peMax, minBitSp, maxBitSp among them).

struct CodParam {
    float values[13];  // [0] bandwidth in Hz
};
static_assert(sizeof(CodParam) == 13 * 4);

// A fresh copy, the bandwidth interpolated in the bit rate and limited to half
// the sample rate; null when no row holds the combination or without memory.
// Free with CodParamFree.
CodParam* CodParamCreate(int blockKind, int bitRatePerChannel, float sampleRate, int stereo);
void CodParamFree(CodParam* record);
