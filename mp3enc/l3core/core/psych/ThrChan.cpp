#include "mp3enc/l3core/core/psych/ThrChan.h"

#include <cstring>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/psych/ChaosMeasure.h"
#include "mp3enc/l3core/core/psych/PsyChan.h"
#include "mp3enc/l3core/core/psych/ThresholdKernels.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kPreEchoDepth = 3;
constexpr int kFirstLimitedLine = 6;

EncError* Switch(const char* name, const char* help, const char* longHelp, int* value) {
    if (UciGetSwitch(name, help, longHelp, value) == kUciDone) return nullptr;
    return ErrorCreate(__FILE__, __LINE__, name, "invalid value for option \"%s\"", name);
}

EncError* CreatePreEcho(FloatFifo** out, const CbParam* cb) {
    if (EncError* e = CreateFloatFifo(out, kPreEchoDepth, cb->count)) return ErrorChain(__FILE__, __LINE__, nullptr, e);
    for (int i = 0; i < kPreEchoDepth; ++i) FloatFifoPush(*out, cb->quiet);
    return nullptr;
}

// One spectrum from partition energies to the pre-echo controlled threshold;
// returns its perceptual entropy.
float Chain(ThrChan* ch, int kind, const float* spectrum, ThrWindow& w, FloatFifo* preEcho, float* thr) {
    const CbParam* cb = ch->cb[kind];
    const ThrParam* t = ch->psy[kind]->thr;
    PartitionEnergy(spectrum, w.chaos, cb, t->defaultChaos, w.energy, w.chaosEnergy);
    SpreadEnergy(cb, w.energy, w.chaosEnergy, w.spread, w.spreadChaos);
    Tonality(cb, w.spreadChaos, w.spread, w.tonality);
    if (ch->preNoTone) {
        ThresholdWithoutTonality(cb, w.spread, t->nmtDb, thr);
        FloatFifoPush(preEcho, thr);
        ThresholdFromTonality(cb, w.tonality, w.spread, t->nmtDb, thr);
    } else {
        ThresholdFromTonality(cb, w.tonality, w.spread, t->nmtDb, thr);
        FloatFifoPush(preEcho, thr);
    }
    PreEchoControl(cb, thr, FloatFifoEntry(preEcho, 1), FloatFifoEntry(preEcho, 2), t->preEchoMin, t->preEchoBack2);
    return PerceptualEntropy(cb, w.energy, thr);
}

void Chaos(const ThrChan* ch, int kind, const FloatFifo* fifo, int newest, float* out) {
    const CbParam* cb = ch->cb[kind];
    const ThrParam* t = ch->psy[kind]->thr;
    CalculateChaosMeasure(FloatFifoEntry(fifo, newest + 2), FloatFifoEntry(fifo, newest + 1), FloatFifoEntry(fifo, newest),
                          cb->toneLines, cb->combLines, t->defaultChaos, t->chaosMethod, out);
}

}  // namespace

EncError* CreateThresholdChannel(ThrChan** out, PsyConf* conf) {
    if (!out || !conf) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* ch = static_cast<ThrChan*>(AlignedCalloc(1, sizeof(ThrChan), __FILE__, __LINE__));
    if (!ch) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    ch->conf = conf;
    ch->cb = GetCbBlockParam(conf);
    ch->psy = GetPsyBlockParam(conf);
    ch->adapt = GetAdaptBlockParam(conf);
    conf->firstLimitedLine = kFirstLimitedLine;
    conf->cst = 0;
    EncError* e = Switch("cst", "check short thresholds with low spectral resolution",
                         "the short thresholds (ratios) of cbs with low spectral\nresolution will be compared to the long "
                         "cb ratios,\nthe minimum ratio of both will then be used",
                         &conf->cst);
    if (!e)
        e = Switch("preNoTone", "preecho threshold calc. based only on NMT",
                   "to fill the preecho fifos a separate threshold calculation using no tonalityis used", &ch->preNoTone);
    if (!e) e = CreatePreEcho(&ch->preEchoLong, ch->cb[0]);
    if (!e) e = CreatePreEcho(&ch->preEchoShort, ch->cb[1]);
    if (e) {
        DeleteThresholdChannel(ch);
        return e;
    }
    *out = ch;
    return nullptr;
}

int AdvanceThresholdChannel(ThrChan* ch, const PsyChan* analysis, int blockType) {
    ch->blockType = blockType;
    const FloatFifo* longFft = analysis->longFft;
    const FloatFifo* shortFft = analysis->shortFft;
    Chaos(ch, 0, longFft, 0, ch->window[0].chaos);
    for (int w = 0; w < kShortWindows; ++w) Chaos(ch, 1, shortFft, 6 - w, ch->window[w + 1].chaos);

    std::memset(ch->thrLong, 0, sizeof ch->thrLong);
    MergeShortChaos(ch->window[0].chaos, ch->window[1].chaos, ch->window[2].chaos, ch->window[3].chaos,
                    ch->cb[0]->toneLines, ch->cb[1]->toneLines, ch->conf->firstLimitedLine);
    const float* longSpectrum = FloatFifoEntry(longFft, 0);
    ch->pe[0] = Chain(ch, 0, longSpectrum, ch->window[0], ch->preEchoLong, ch->thrLong);
    for (int w = 0; w < kShortWindows; ++w) {
        std::memset(ch->thrShort[w], 0, sizeof ch->thrShort[w]);
        ch->pe[1 + w] = Chain(ch, 1, FloatFifoEntry(shortFft, 6 - w), ch->window[w + 1], ch->preEchoShort, ch->thrShort[w]);
    }
    if (ch->conf->cst && ch->cb[1]->lowResCount > 0) {
        float* thrShort[3] = {ch->thrShort[0], ch->thrShort[1], ch->thrShort[2]};
        const float* esShort[3] = {ch->window[1].spread, ch->window[2].spread, ch->window[3].spread};
        CheckShortAgainstLong(ch->cb[1], ch->conf->shortToLong, ch->thrLong, ch->window[0].spread, thrShort, esShort);
    }
    const bool mixed = blockType == kBlockMixedShort;
    if (IsLongGroup(blockType) || mixed)
        PartitionsToBands(ch->adapt[0], ch->thrLong, ch->window[0].energy, longSpectrum, ch->bandThr.longBand,
                          ch->bandEnergy.longBand, ch->bandRatio.longBand);
    if (blockType == kBlockShort || mixed)
        for (int w = 0; w < kShortWindows; ++w)
            PartitionsToBands(ch->adapt[1], ch->thrShort[w], ch->window[w + 1].energy, FloatFifoEntry(shortFft, 6 - w),
                              ch->bandThr.shortBand[w], ch->bandEnergy.shortBand[w], ch->bandRatio.shortBand[w]);
    return 0;
}

void DeleteThresholdChannel(ThrChan* ch) {
    if (!ch) return;
    DeleteFloatFifo(ch->preEchoLong);
    DeleteFloatFifo(ch->preEchoShort);
    AlignedFree(ch);
}
