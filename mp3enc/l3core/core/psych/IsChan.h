#pragma once
// Intensity stereo: per granule, how many bits each band of the two channels
// would need, the bound above which the right channel is carried only by
// intensity positions (lowered until the demand falls toward the bits
// available), the position of every band above it, and the merge of the right
// spectrum into the left there, with the band values of both threshold
// channels rewritten to match. Runs after the mid/side decision and before
// the mid/side transform, whose band counts it lowers to the bound.
#include <cstdint>

#include "mp3enc/l3core/core/bitmux/IsRecord.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/EncError.h"

struct MsChan;
struct PsyChan;
struct ThrChan;
struct TraChan;

// The quantities of one group of bands: the long bands, or the short bands of
// one window. One slot more than the bands for the rest band.
struct IsBands {
    float left[kLongBandSlots];
    float right[kLongBandSlots];
    float twiceMid[kLongBandSlots];
    int32_t demand[4][kLongBandSlots];  // left, right, mid, side
    int32_t louderDemand[kLongBandSlots];
    float threshold[kLongBandSlots];  // the louder channel's masking ratio x twice the mid energy
    float ratio[kLongBandSlots];      // the louder channel's masking ratio
    float factor[kLongBandSlots];     // scales left + right into the merged lines
    int position[kLongBandSlots];
};

struct IsChan {
    int blockType;
    CbParam** cb;
    PsyParam** psy;
    AdaptParam** adapt;
    int rateClass;
    int frameBits;       // bits per frame and channel at the configured rate
    IsBands bands[4];    // [0] long, [1..3] the short windows
    int merge[kLongBandSlots];  // long hysteresis: 1 merge left and right, 0 drop right
    int previousBound;   // long bound of the last granule, -1 none
    IsRecord record;
};

// Null or an error object.
EncError* CreateIsChannel(IsChan** out, PsyConf* conf);
// The analysis for the granule whose mid/side decision `ms` holds; points the
// right transform channel at the record when it has intensity bands, and
// always in rate class 0. Returns 0.
int AdvanceIsChannel(IsChan* is, MsChan* ms, PsyChan* const analysis[2], ThrChan* const threshold[2],
                     TraChan* const transform[2], int blockType);
void DeleteIsChannel(IsChan* is);
