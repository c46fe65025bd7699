#pragma once
// Adaptation set of one block kind: what maps the partitions of the FFT
// spectrum onto the scale-factor bands of the MDCT spectrum.
#include "mp3enc/l3core/core/psych/CbParam.h"
#include "mp3enc/l3core/core/psych/PsyParam.h"
#include "mp3enc/util/EncError.h"

struct AdaptParam {
    int bandCount;      // scale-factor bands; the rest band follows them
    int width[22];      // bandCount + 1 widths in MDCT lines
    int start[23];      // bandCount + 2 start lines
    int cbCount;
    int cbStart[kMaxCb + 1];  // running sums of the widths, the total last
    int cbWidth[kMaxCb];
    int halfFft;
    int mdctLines;
    float ratio;        // FFT lines per MDCT line
    int cbMode;         // bands measured on FFT lines with the minimum threshold
};

// Null, or "invalid function parameters" / "out of memory".
EncError* CreateAdaptParam(AdaptParam** out, const PsyParam* set, const CbParam* table);
void DeleteAdaptParam(AdaptParam* set);
