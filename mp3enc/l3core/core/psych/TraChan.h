#pragma once
// The transform channel: the coded MDCT spectrum of one channel and granule,
// with the mid/side flag and, on the right channel, the intensity record.
#include "mp3enc/l3core/core/psych/Mdct.h"

struct IsRecord;  // the intensity-stereo positions and bounds

struct TraChan {
    int blockType;
    MdctState* mdct;
    float spectrum[kMdctSpectrumSize];  // 576 lines, then two zeros
    int midSide;                        // 1 when the granule is coded mid/side
    const IsRecord* intensity;          // right channel only; null when the granule codes no intensity
};

#include "mp3enc/l3core/core/psych/FloatRing.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/util/EncError.h"

// The MDCT made for the configuration's rate class and long band table. Null
// or an error object.
EncError* CreateTransformChannel(TraChan** out, const PsyConf* conf);
// Transforms the 576 subband samples 1152 behind the ring's write position
// with the granule's block type and clears the two words after the spectrum.
// Returns 0.
int AdvanceTransformChannel(TraChan* channel, const FloatRing* subbands, int blockType);
void DeleteTransformChannel(TraChan* channel);
