#pragma once
// Scale-factor band record of one sample rate and block kind, and the two
// operations that turn a frequency into a band index.
#include <cstddef>
#include <cstdint>

struct SfbParam {
    int32_t lineCount;  // 576 long, 192 short
    int32_t bandCount;  // 21 long, 12 short
    int32_t lineLimit;  // the first line not coded
    int32_t width[22];  // bandCount + 1 widths, the last the rest band; zeros after
    int32_t start[23];  // bandCount + 2 start lines, 0 to lineCount
};
static_assert(sizeof(SfbParam) == 48 * 4);
static_assert(offsetof(SfbParam, start) == 25 * 4);

// A fresh copy for block kinds 0, 1 and 3 (long) or 2 (short) at one of the
// nine rates exactly; null for anything else or without memory. Free with
// SfbParamFree.
SfbParam* SfbParamCreate(int blockKind, float sampleRate);
void SfbParamFree(SfbParam* record);

// Both scale by start[bandCount]: L = round(start[n] x 2f / sampleRate).
// The band border nearest to f (the lower one on a tie); n when L >= start[n].
int SfbNearestBorder(float hz, float sampleRate, int bandCount, const int32_t* start);
// The band holding f: the largest i <= n with start[i] <= L.
int SfbBandOf(float hz, float sampleRate, int bandCount, const int32_t* start);
