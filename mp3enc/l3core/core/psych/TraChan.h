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
    const IsRecord* intensity;          // right channel only; null without intensity bands
};
