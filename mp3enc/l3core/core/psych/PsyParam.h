#pragma once
// Psychoacoustic parameter set of one block kind: the band, threshold and
// coding records selected for the stream, the user's tuning options written
// into them, and the line limits that follow from the bandwidth.
#include "mp3enc/l3core/core/psych/CodParam.h"
#include "mp3enc/l3core/core/psych/SfbParam.h"
#include "mp3enc/l3core/core/psych/ThrParam.h"
#include "mp3enc/util/EncError.h"

// Coding-set words the bitstream encoder reads besides the bandwidth.
inline constexpr int kCodPeMin = 1;
inline constexpr int kCodPeMax = 2;
inline constexpr int kCodMinBitSp = 9;
inline constexpr int kCodMaxBitSp = 10;

struct PsyParam {
    float sampleRate;
    int bitRate;      // per channel
    int halfFft;      // 512 long, 128 short
    int fftLimit;     // FFT lines analysed
    int mdctLowpass;  // MDCT lines up to the bandwidth
    int toneLimit;    // FFT lines with a tonality
    int combLimit;    // FFT lines of the peak-filter part of chaos method 4
    ThrParam* thr;
    SfbParam* sfb;
    CodParam* cod;
};

// Block kinds 0, 1, 3 take the long tables and options, 2 the short ones
// ("_S"). The FFT length must be even and the MDCT line count positive.
// Reads the options of the current registry scope.
EncError* CreatePsyParam(PsyParam** out, int fftLength, int mdctLines, float sampleRate, int bitRatePerChannel,
                         int stereo, int blockKind, int complexMdct);
void DeletePsyParam(PsyParam* set);

// Moves both lowpass lines to nearby scale-factor band borders and, when the
// two bandwidths are equal, brings them into step.
void AdjustLowpass(float sampleRate, PsyParam* longSet, PsyParam* shortSet);

// Critical-band rate in Bark of a frequency in Hz.
float BarkOf(float hz);
