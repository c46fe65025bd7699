#pragma once
// The threshold channel: per granule, the masking threshold of every
// partition of the long spectrum and of the three short windows, the
// perceptual entropy of each, and threshold, energy and masking ratio per
// scale-factor band (all in the FFT domain).
#include "mp3enc/l3core/core/psych/FloatFifo.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/EncError.h"

struct PsyChan;

// The kernels' working values of one spectrum: record 0 the long one, 1 to 3
// the short windows.
struct ThrWindow {
    float chaos[512];  // per FFT line below the tonality limit
    float energy[kMaxCb];
    float chaosEnergy[kMaxCb];
    float spread[kMaxCb];
    float spreadChaos[kMaxCb];
    float tonality[kMaxCb];
};

struct BandRecord {
    float longBand[kLongBandSlots];
    float shortBand[kShortWindows][kShortBandSlots];
};

struct ThrChan {
    int blockType;
    CbParam** cb;       // the configuration's long/short pairs
    PsyParam** psy;
    AdaptParam** adapt;
    PsyConf* conf;
    ThrWindow window[4];
    FloatFifo* preEchoLong;   // depth 3, one value per long partition
    FloatFifo* preEchoShort;  // depth 3, one value per short partition
    float thrLong[kMaxCb];
    float thrShort[kShortWindows][kMaxCb];
    float pe[4];  // long, then short windows 0 to 2
    int preNoTone;
    BandRecord bandThr;
    BandRecord bandEnergy;
    BandRecord bandRatio;
};

// Registers "cst" (into the configuration) and "preNoTone". Null or an error
// object ("out of memory", a FIFO's error wrapped).
EncError* CreateThresholdChannel(ThrChan** out, PsyConf* conf);
// The analysis channel's FFT FIFOs hold this granule's long spectrum (entry 0)
// and short spectra (entries 6, 5, 4 the windows 0, 1, 2). Returns 0.
int AdvanceThresholdChannel(ThrChan* channel, const PsyChan* analysis, int blockType);
void DeleteThresholdChannel(ThrChan* channel);
