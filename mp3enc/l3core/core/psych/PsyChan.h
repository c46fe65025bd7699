#pragma once
// The analysis channel of one audio channel: sample and subband history, the
// FFT spectra of the last granules, the analysis windows, the block-switch
// controller and the polyphase filter bank.
#include "mp3enc/l3core/core/psych/AnalysisWindow.h"
#include "mp3enc/l3core/core/psych/FloatFifo.h"
#include "mp3enc/l3core/core/psych/FloatRing.h"
#include "mp3enc/l3core/core/psych/PolyAnalysis.h"

struct SwCont;

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
    SwCont* blockSwitch;
    PolyAnalysis* poly;
    int proposedType;
};
