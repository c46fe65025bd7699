#pragma once
// The psychoacoustic configuration that every channel of one encoder reads:
// long and short parameter sets, partition tables and adaptation sets, built
// once when the encoder opens.
#include "mp3enc/l3core/core/psych/AdaptParam.h"
#include "mp3enc/l3core/core/psych/CbParam.h"
#include "mp3enc/l3core/core/psych/PsyParam.h"
#include "mp3enc/util/EncError.h"

struct PsyConf {
    int rateClass;
    PsyParam* psy[2];  // [0] long, [1] short
    CbParam* cb[2];
    int firstLimitedLine;           // long FFT line from which short chaos values limit the long ones
    int shortToLong[kMaxCb];        // per short partition: the first long one at or above 3 x its start
    int cst;                        // "cst": short ratios of coarse partitions checked against long ones
    AdaptParam* adapt[2];
    int complexMdct;
};

// Reads the options "lp-adjust", "nobmax" and "noCmdct" and the set options
// of the current registry scope. Null or an error object; on failure nothing
// is left allocated.
EncError* CreatePsyConf(PsyConf** out, float sampleRate, int bitRatePerChannel, int stereo);
void DeletePsyConf(PsyConf* conf);

// The long/short pairs inside the configuration; null for a null configuration.
PsyParam** GetPsyBlockParam(PsyConf* conf);
CbParam** GetCbBlockParam(PsyConf* conf);
AdaptParam** GetAdaptBlockParam(PsyConf* conf);
// The long table for block kinds 0, 1 and 3, the short one for 2, else null.
const CbParam* GetCbParam(const PsyConf* conf, int blockKind);
