#pragma once
// The analysis channel of one audio channel: sample and subband history, the
// FFT spectra of the last granules, the analysis windows, the block-switch
// controller and the polyphase filter bank.
#include "mp3enc/l3core/core/psych/AnalysisWindow.h"
#include "mp3enc/l3core/core/psych/FloatFifo.h"
#include "mp3enc/l3core/core/psych/FloatRing.h"
#include "mp3enc/l3core/core/psych/PolyAnalysis.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/util/EncError.h"

struct BlockSwitch;

inline constexpr int kSampleRingSize = 1728;
inline constexpr int kSubbandRingSize = 1344;
inline constexpr int kLongFftSize = 1024;
inline constexpr int kShortFftSize = 256;
inline constexpr int kLongFftDepth = 3;
inline constexpr int kShortFftDepth = 9;

struct PsyChan {
    FloatRing* samples;
    FloatRing* subbands;
    FloatFifo* longFft;   // complex spectra, newest first
    FloatFifo* shortFft;
    AnalysisWindow* longWindow;
    AnalysisWindow* shortWindow;
    BlockSwitch* blockSwitch;
    PolyAnalysis* poly;
    int proposedType;
    float* work;  // one long FFT block or the granule's newest samples
};

// Rings and FIFOs start with silence, so the first granules see it as their
// past. Null or an error object (wrapped from the part that failed).
EncError* CreatePsyChannel(PsyChan** out, const PsyConf* conf);
// One granule of 576 samples: the long FFT of the block ahead of the newest
// samples, the polyphase analysis of the new ones, three short FFTs and the
// block-switch proposal. Returns 0.
int AdvancePsyChannel(PsyChan* channel, const float* samples);
void DeletePsyChannel(PsyChan* channel);
