#pragma once
// Block-switch control of one channel: per granule, attacks and strong decays
// in the band levels of the three short FFTs decide between long, start,
// short and stop blocks, in the standard's transition order. The process-wide
// option "blm" forces long (1) or short (2) blocks.
#include "mp3enc/l3core/core/psych/CbParam.h"
#include "mp3enc/l3core/core/psych/FloatFifo.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/util/EncError.h"

inline constexpr int kEventNone = 0;
inline constexpr int kEventAttack = 1;
inline constexpr int kEventDecay = 4;

struct BlockSwitch {
    FloatFifo* history;  // 5 slots of band levels in dB, [0] the newest
    const CbParam* bands;
    float* floorDb;
    float* floorLin;
    int event[4];  // [0] carried over, [1..3] this granule's sub-blocks
    int lastType;
    int lastAttack;
    int attackDepth;
    int decayDepth;
    int attackState;
    int middleAttack;
    int attackBase;
    int countLastSubblock;
    int carryMiddleAttack;
    int mode;  // "blm": 0 automatic, 1 only long, 2 only short
};

// Null or an error ("GetCbParam() failed", "out of memory", the FIFO's error,
// an invalid "blm").
EncError* CreateBlockSwitch(BlockSwitch** out, const PsyConf* conf);
// shortFft holds this granule's three short spectra as entries 2, 1, 0; type
// holds the previous decision and receives the new one. Returns 1.
int DecideBlockType(BlockSwitch* sw, const FloatFifo* shortFft, int* type);
void DeleteBlockSwitch(BlockSwitch* sw);
