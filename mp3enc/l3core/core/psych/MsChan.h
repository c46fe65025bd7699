#pragma once
// Mid/side stereo: per frame, whether the two channels are coded as left and
// right or as mid and side; when mid/side, both spectra become mid and side,
// weak side lines may be starved, and the band values of the two threshold
// channels become those of mid and side.
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/l3core/core/psych/ThrChan.h"
#include "mp3enc/util/EncError.h"

struct PsyChan;
struct TraChan;

struct MsWindow {
    float louder[1024];  // per FFT line the channel value of larger magnitude, (re, im)
    float midEnergy[kMaxCb];
    float sideEnergy[kMaxCb];
    float threshold[kMaxCb];  // the smaller of the two channels' partition thresholds
};

struct MsChan {
    int rateClass;
    int frameMs;    // 1: the current frame is coded mid/side
    int granuleMs;  // the rule's result for the most recent granule
    int blockType;  // channel 0's
    CbParam** cb;
    PsyParam** psy;
    AdaptParam** adapt;
    int starving;
    MsWindow window[4];  // [0] long, [1..3] the short windows
    float peMid;
    float peSide;
    float tonality[2][kLongBandSlots];  // per long band; [0] ends up the larger of the two
    BandRecord midThr, midEnergy, midRatio;
    BandRecord sideThr, sideEnergy, sideRatio;
    int longBands;                  // mid/side long bands
    int shortBands[kShortWindows];  // mid/side short bands of each window
    int starved;                    // side lines starving cleared this granule
};

// Registers "starving". Null or an error object.
EncError* CreateMsChannel(MsChan** out, PsyConf* conf);
// The decision for one granule from both channels' spectra and thresholds;
// at granule 0 it decides the frame. Returns 0.
int DecideMsStereo(MsChan* ms, int granule, PsyChan* const analysis[2], const ThrChan* const threshold[2],
                   TraChan* const transform[2], int blockType);
// In a mid/side frame: spectra to mid and side, starving, band values to the
// threshold channels. Returns 0.
int ApplyMsStereo(MsChan* ms, TraChan* const transform[2], ThrChan* const threshold[2]);
void DeleteMsChannel(MsChan* ms);
