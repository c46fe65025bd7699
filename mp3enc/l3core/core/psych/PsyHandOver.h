#pragma once
// The records of one granule of the psychoacoustic model as the bitstream
// encoder and the quantisation loop read them, and the bit demand sets the
// bitstream encoder adapts from granule to granule.
#include "mp3enc/l3core/core/bitmux/PsyGranule.h"
#include "mp3enc/l3core/core/psych/PsyMain.h"
#include "mp3enc/l3core/core/quant/LoopKernel.h"

struct PsyHandOver {
    DemandParam demandLong;
    DemandParam demandShort;
    PsyGranule granule;
    LoopGranuleInput loop;
};

// The demand sets from the model's long and short coding records.
void InitPsyHandOver(PsyHandOver* handOver, const PsyMain* model);
// After each advance of the model: both records point into the model, whose
// granule they describe until its next advance.
void FillPsyHandOver(PsyHandOver* handOver, const PsyMain* model);
