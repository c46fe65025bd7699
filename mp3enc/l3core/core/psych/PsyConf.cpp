#include "mp3enc/l3core/core/psych/PsyConf.h"

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kLongFft = 1024;
constexpr int kShortFft = 256;

EncError* Switch(const char* name, const char* help, const char* longHelp, int* value) {
    if (UciGetSwitch(name, help, longHelp, value) == kUciDone) return nullptr;
    return ErrorCreate(__FILE__, __LINE__, name, "invalid value for option \"%s\"", name);
}

void MapShortToLong(PsyConf* c) {
    const CbParam* l = c->cb[0];
    const CbParam* s = c->cb[1];
    for (int j = 0; j < s->count; ++j) {
        int i = 0;
        while (i < l->count - 1 && l->start[i] < 3 * s->start[j]) ++i;
        c->shortToLong[j] = i;
    }
}

}  // namespace

EncError* CreatePsyConf(PsyConf** out, float sampleRate, int bitRatePerChannel, int stereo) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* c = static_cast<PsyConf*>(AlignedCalloc(1, sizeof(PsyConf), __FILE__, __LINE__));
    if (!c) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    int lpAdjust = 0, noBmax = 0, noCmdct = 0;
    EncError* e = Switch("lp-adjust", "enable adjustment of lowpass frequency",
                         "the lowpass frequencies for short and long are adjustedto the nearest sfb-border", &lpAdjust);
    if (!e) e = Switch("nobmax", "disable bmax", "the bmax values for short and long are set to 0", &noBmax);
    if (!e) e = Switch("noCmdct", "do not use complex mdct", "", &noCmdct);
    c->complexMdct = noCmdct ? 0 : 1;
    if (!e)
        e = CreatePsyParam(&c->psy[0], kLongFft, kGranuleLines, sampleRate, bitRatePerChannel, stereo, kBlockLong,
                           c->complexMdct);
    if (!e)
        e = CreatePsyParam(&c->psy[1], kShortFft, kGranuleLines, sampleRate, bitRatePerChannel, stereo, kBlockShort,
                           c->complexMdct);
    if (!e && lpAdjust) AdjustLowpass(sampleRate, c->psy[0], c->psy[1]);
    for (int k = 0; k < 2 && !e; ++k) e = CreateCbParam(&c->cb[k], c->psy[k], c->complexMdct, noBmax);
    if (!e) MapShortToLong(c);
    for (int k = 0; k < 2 && !e; ++k) e = CreateAdaptParam(&c->adapt[k], c->psy[k], c->cb[k]);
    if (e) {
        DeletePsyConf(c);
        return ErrorChain(__FILE__, __LINE__, nullptr, e);
    }
    c->rateClass = RateClassOf(sampleRate);
    *out = c;
    return nullptr;
}

void DeletePsyConf(PsyConf* conf) {
    if (!conf) return;
    for (int k = 0; k < 2; ++k) {
        DeleteAdaptParam(conf->adapt[k]);
        DeleteCbParam(conf->cb[k]);
        DeletePsyParam(conf->psy[k]);
    }
    AlignedFree(conf);
}

PsyParam** GetPsyBlockParam(PsyConf* conf) { return conf ? conf->psy : nullptr; }
CbParam** GetCbBlockParam(PsyConf* conf) { return conf ? conf->cb : nullptr; }
AdaptParam** GetAdaptBlockParam(PsyConf* conf) { return conf ? conf->adapt : nullptr; }

const CbParam* GetCbParam(const PsyConf* conf, int blockKind) {
    if (!conf) return nullptr;
    if (blockKind == 0 || blockKind == 1 || blockKind == 3) return conf->cb[0];
    return blockKind == 2 ? conf->cb[1] : nullptr;
}
