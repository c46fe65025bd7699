#pragma once
// The coding channel: per granule, the energy of every scale-factor band of
// the coded MDCT spectrum and the distortion the quantiser may leave in it.
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/EncError.h"

struct TraChan;
struct ThrChan;

struct CodChan {
    int blockType;
    int rateClass;
    PsyParam** psy;       // the configuration's long/short pair
    AdaptParam** adapt;
    float energyLong[kLongBandSlots];
    float energyShort[kShortWindows][kShortBandSlots];
    float distLong[kLongBandSlots];
    float distShort[kShortWindows][kShortBandSlots];
};

// Null or "out of memory" / "invalid function parameters".
EncError* CreateCodingChannel(CodChan** out, PsyConf* conf);
// Clears the lines above the lowpass in the transform channel's spectrum
// (long and short granules), then sets energies and allowed distortions from
// it and the threshold channel's band records. Returns 0.
int AdvanceCodingChannel(CodChan* channel, TraChan* transform, const ThrChan* threshold);
void DeleteCodingChannel(CodChan* channel);
