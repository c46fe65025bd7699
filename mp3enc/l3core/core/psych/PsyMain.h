#pragma once
// The psychoacoustic model of one encoder: per granule of 576 samples per
// channel, the analysis, the block types kept in step between the channels,
// the MDCT spectra, the thresholds, the mid/side decision and the band
// energies and allowed distortions the quantisation loop must respect.
#include "mp3enc/l3core/core/psych/CodChan.h"
#include "mp3enc/l3core/core/psych/IsChan.h"
#include "mp3enc/l3core/core/psych/MsChan.h"
#include "mp3enc/l3core/core/psych/PsyChan.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/l3core/core/psych/ThrChan.h"
#include "mp3enc/l3core/core/psych/TraChan.h"
#include "mp3enc/util/EncError.h"

inline constexpr int kPsyGranuleSamples = kGranuleLines;

struct PsyMain {
    int channels;   // 1 or 2
    int granules;   // per frame: 2 MPEG-1, 1 the lower rates
    int midSide;    // enabled: allowed by the caller and stereo
    int intensity;  // same rule
    int syncTypes;  // block types kept in step between the channels, always 1
    int mixed;      // "mixed": types 1, 2, 3 coded as 4, 5, 6
    int granule;    // within the frame
    PsyConf* conf;
    PsyChan* analysis[2];
    ThrChan* threshold[2];
    CodChan* coding[2];
    TraChan* transform[2];
    MsChan* ms;         // when mid/side or intensity is enabled
    IsChan* is;         // when intensity is enabled
    int blockType[2];   // of the current granule
};

// bitRate counts all channels. Null or an error object; on failure *out is
// null and nothing is left allocated. Reads the options of the current
// registry scope.
EncError* CreatePsychoacousticModel(PsyMain** out, int channels, int granules, float sampleRate, int bitRate,
                                    int allowMidSide, int allowIntensity);
// samples: 576 floats per channel, channel 1 after channel 0, in the range of
// 16-bit PCM. Allocates nothing. Returns 0.
int AdvancePsychoacousticModel(PsyMain* model, const float* samples);
void DeletePsychoacousticModel(PsyMain* model);

// The common block type of two proposals (0 to 3), in the transition order of
// both channels: a start or stop meeting anything but its own kind or long
// becomes short.
int SyncBlockTypes(int soFar, int proposal);
