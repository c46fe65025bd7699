#include "mp3enc/l3core/core/psych/PsyChan.h"

#include "mp3enc/l3core/core/psych/BlockSwitch.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/l3core/core/psych/RealFft.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kLongDelay = 1264;
constexpr int kShortDelays[3] = {880, 688, 496};

EncError* Fail(PsyChan* c, EncError* e) {
    DeletePsyChannel(c);
    return e;
}

}  // namespace

EncError* CreatePsyChannel(PsyChan** out, const PsyConf* conf) {
    if (!out || !conf) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* c = static_cast<PsyChan*>(AlignedCalloc(1, sizeof(PsyChan), __FILE__, __LINE__));
    if (!c) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    c->samples = CreateFloatModuleBuffer(kSampleRingSize);
    c->subbands = CreateFloatModuleBuffer(kSubbandRingSize);
    if (!c->samples || !c->subbands) return Fail(c, ErrorCreate(__FILE__, __LINE__, nullptr, "CreateFloatModuleBuffer() failed"));
    c->poly = CreatePolyPhaseAnalyseChannel();
    if (!c->poly) return Fail(c, ErrorCreate(__FILE__, __LINE__, nullptr, "CreatePolyPhaseAnalyseChannel() failed"));
    c->work = static_cast<float*>(AlignedCalloc(kLongFftSize, sizeof(float), __FILE__, __LINE__));
    if (!c->work) return Fail(c, ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory"));
    EncError* e = CreateFloatFifo(&c->longFft, kLongFftDepth, kLongFftSize);
    if (!e) e = CreateFloatFifo(&c->shortFft, kShortFftDepth, kShortFftSize);
    if (!e) e = CreateAnalysisWindow(&c->longWindow, kBlockLong, kLongFftSize);
    if (!e) e = CreateAnalysisWindow(&c->shortWindow, kBlockShort, kShortFftSize);
    if (!e) e = CreateBlockSwitch(&c->blockSwitch, conf);
    if (e) return Fail(c, ErrorChain(__FILE__, __LINE__, nullptr, e));
    for (int i = 0; i < kLongFftDepth; ++i) FloatFifoPushZeros(c->longFft);
    for (int i = 0; i < kShortFftDepth; ++i) FloatFifoPushZeros(c->shortFft);
    *out = c;
    return nullptr;
}

int AdvancePsyChannel(PsyChan* c, const float* samples) {
    FloatRingRead(c->samples, c->work, kLongFftSize, kLongDelay);
    ApplyAnalysisWindow(c->longWindow, c->work);
    RealFft(c->work, kLongFftSize);
    FloatFifoPush(c->longFft, c->work);

    FloatRingWrite(c->samples, samples, kGranuleLines);
    FloatRingRead(c->samples, c->work, kGranuleLines, kGranuleLines);
    float subbands[kGranuleLines];
    PolyPhaseAnalyse(c->poly, c->work, subbands);
    FloatRingWrite(c->subbands, subbands, kGranuleLines);

    for (const int delay : kShortDelays) {
        FloatRingRead(c->samples, c->work, kShortFftSize, delay);
        ApplyAnalysisWindow(c->shortWindow, c->work);
        RealFft(c->work, kShortFftSize);
        FloatFifoPush(c->shortFft, c->work);
    }
    int type = c->blockSwitch->lastType;
    DecideBlockType(c->blockSwitch, c->shortFft, &type);
    c->proposedType = type;
    return 0;
}

void DeletePsyChannel(PsyChan* c) {
    if (!c) return;
    DeleteFloatModuleBuffer(c->samples);
    DeleteFloatModuleBuffer(c->subbands);
    DeleteFloatFifo(c->longFft);
    DeleteFloatFifo(c->shortFft);
    DeleteAnalysisWindow(c->longWindow);
    DeleteAnalysisWindow(c->shortWindow);
    DeleteBlockSwitch(c->blockSwitch);
    DeletePolyPhaseAnalyseChannel(c->poly);
    AlignedFree(c->work);
    AlignedFree(c);
}
