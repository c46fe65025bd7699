#pragma once
// Partition table of one block kind: the FFT spectrum cut into partitions of
// about a third of a Bark, with per-partition values and the spreading
// function between partitions.
#include "mp3enc/l3core/core/psych/PsyParam.h"
#include "mp3enc/util/EncError.h"

inline constexpr int kMaxCb = 115;
inline constexpr int kSpreadStride = 116;  // floats per spreading row: rows stay 16-byte aligned

struct CbParam {
    int count;       // partitions
    int toneCount;   // partitions below the tonality line limit
    int toneLines;   // FFT lines they cover
    int lineCount;   // FFT lines covered by all partitions
    int combLines;   // lines of the partitions below the combination line limit
    int width[kMaxCb];
    int start[kMaxCb + 1];  // the extra entry is the half FFT length
    float bark[kMaxCb];
    float bmax[kMaxCb];     // minimum signal-to-mask ratio, dB
    float preEcho[kMaxCb];  // pre-echo ratio
    float quiet[kMaxCb];    // threshold in quiet, energy over the partition's lines
    float norm[kMaxCb];     // spreading normalisation
    float tmn[kMaxCb];      // tone-masking value, dB
    float factor[kMaxCb];   // per-partition factor
    float fixedRatio[kMaxCb];  // masking ratio of the partitions above the tonal ones
    int bandLimit;
    int spreadStart[kMaxCb];   // first column partition of each row
    int spreadLength[kMaxCb];
    float* spread;             // kMaxCb rows of kSpreadStride
    int lowResCount;
};

// Null or an error ("invalid function parameters" for a missing set or a
// bandwidth that leaves fewer than kMinFftLines lines, "out of memory", "MAX_CB
// too small").
inline constexpr int kMinFftLines = 6;
EncError* CreateCbParam(CbParam** out, const PsyParam* set, int complexMdct, int noBmax);
void DeleteCbParam(CbParam* table);

// The spreading value of step distance d = Bark(row) - Bark(column), before the row cut.
float SpreadingValue(float d, const ThrParam* thr);
