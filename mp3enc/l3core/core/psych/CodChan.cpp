#include "mp3enc/l3core/core/psych/CodChan.h"

#include <algorithm>

#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/l3core/core/psych/ThrChan.h"
#include "mp3enc/l3core/core/psych/TraChan.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr float kThrWeight = 0.253125f * 9.8765431e-06f;  // FFT-domain threshold to MDCT scale

float LongDistortion(float energy, float ratio, float thr) {
    return energy == 0.0f ? 1.0f : 0.5f * energy * ratio + kThrWeight * thr;
}

float ShortDistortion(float energy, float ratio) { return energy == 0.0f ? 1.0f : energy * ratio; }

void LongBands(CodChan* c, const float* x, const ThrChan* t, int bands) {
    const AdaptParam* a = c->adapt[0];
    for (int b = 0; b < bands; ++b) {
        float e = 0;
        for (int k = a->start[b]; k < a->start[b] + a->width[b]; ++k) e += x[k] * x[k];
        c->energyLong[b] = e;
        c->distLong[b] = LongDistortion(e, t->bandRatio.longBand[b], t->bandThr.longBand[b]);
    }
}

void ShortBands(CodChan* c, const float* x, const ThrChan* t, int firstBand) {
    const AdaptParam* a = c->adapt[1];
    for (int w = 0; w < kShortWindows; ++w)
        for (int b = firstBand; b <= a->bandCount; ++b) {
            float e = 0;
            for (int k = a->start[b]; k < a->start[b] + a->width[b]; ++k) e += x[3 * k + w] * x[3 * k + w];
            c->energyShort[w][b] = e;
            c->distShort[w][b] = ShortDistortion(e, t->bandRatio.shortBand[w][b]);
        }
}

}  // namespace

EncError* CreateCodingChannel(CodChan** out, PsyConf* conf) {
    if (!out || !conf) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* c = static_cast<CodChan*>(AlignedCalloc(1, sizeof(CodChan), __FILE__, __LINE__));
    if (!c) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    c->rateClass = conf->rateClass;
    c->psy = GetPsyBlockParam(conf);
    c->adapt = GetAdaptBlockParam(conf);
    *out = c;
    return nullptr;
}

int AdvanceCodingChannel(CodChan* c, TraChan* transform, const ThrChan* t) {
    c->blockType = transform->blockType;
    float* x = transform->spectrum;
    if (IsLongGroup(c->blockType)) {
        const PsyParam* p = c->psy[0];
        std::fill(x + std::min(p->mdctLowpass, p->sfb->lineLimit), x + kGranuleLines, 0.0f);
        LongBands(c, x, t, c->adapt[0]->bandCount + 1);
    } else if (c->blockType == kBlockShort) {
        const PsyParam* p = c->psy[1];
        for (int w = 0; w < kShortWindows; ++w)
            for (int k = std::min(p->mdctLowpass, p->sfb->lineLimit); k < kShortWindowLines; ++k) x[3 * k + w] = 0.0f;
        ShortBands(c, x, t, 0);
    } else {
        // Mixed: the long bands below the boundary, then the short bands from
        // band 3, which starts at the same line. Nothing is cleared.
        LongBands(c, x, t, MixedLongBands(c->rateClass));
        ShortBands(c, x, t, 3);
    }
    return 0;
}

void DeleteCodingChannel(CodChan* channel) { AlignedFree(channel); }
