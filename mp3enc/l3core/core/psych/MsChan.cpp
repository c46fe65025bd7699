#include "mp3enc/l3core/core/psych/MsChan.h"

#include <algorithm>
#include <cstring>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/psych/PsyChan.h"
#include "mp3enc/l3core/core/psych/ThresholdKernels.h"
#include "mp3enc/l3core/core/psych/TraChan.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr float kSqrtHalf = 0.70710677f;
constexpr float kTiny = 1.1754944e-38f;
constexpr float kHysteresis = 0.1f;
constexpr int kFirstStarvedBand = 8;

void Energies(const CbParam* cb, int halfFft, const float* l, const float* r, MsWindow& w) {
    int line = 0;
    for (int p = 0; p < cb->count; ++p) {
        float mid = 0, side = 0;
        for (int k = 0; k < cb->width[p]; ++k, ++line) {
            const float sr = l[2 * line] + r[2 * line], si = l[2 * line + 1] + r[2 * line + 1];
            const float dr = l[2 * line] - r[2 * line], di = l[2 * line + 1] - r[2 * line + 1];
            mid += sr * sr + si * si;
            side += dr * dr + di * di;
        }
        w.midEnergy[p] = 0.5f * mid;
        w.sideEnergy[p] = 0.5f * side;
    }
    for (int k = 0; k < halfFft; ++k) {
        const float pl = l[2 * k] * l[2 * k] + l[2 * k + 1] * l[2 * k + 1];
        const float pr = r[2 * k] * r[2 * k] + r[2 * k + 1] * r[2 * k + 1];
        const float* src = pl >= pr ? l : r;
        w.louder[2 * k] = src[2 * k];
        w.louder[2 * k + 1] = src[2 * k + 1];
    }
}

void Common(const CbParam* cb, const float* a, const float* b, float* out) {
    for (int p = 0; p < cb->count; ++p) out[p] = std::min(a[p], b[p]);
}

void Bands(MsChan* ms, int kind, const MsWindow& w, float* midThr, float* midEnergy, float* midRatio, float* sideThr,
           float* sideEnergy, float* sideRatio) {
    PartitionsToBands(ms->adapt[kind], w.threshold, w.midEnergy, w.louder, midThr, midEnergy, midRatio);
    PartitionsToBands(ms->adapt[kind], w.threshold, w.sideEnergy, w.louder, sideThr, sideEnergy, sideRatio);
}

void LongBands(MsChan* ms, const ThrChan* const thr[2]) {
    Bands(ms, 0, ms->window[0], ms->midThr.longBand, ms->midEnergy.longBand, ms->midRatio.longBand,
          ms->sideThr.longBand, ms->sideEnergy.longBand, ms->sideRatio.longBand);
    for (int c = 0; c < 2; ++c) BandMean(ms->adapt[0], thr[c]->window[0].tonality, ms->tonality[c]);
    for (int b = 0; b < kLongBandSlots; ++b) ms->tonality[0][b] = std::max(ms->tonality[0][b], ms->tonality[1][b]);
}

void ShortBands(MsChan* ms) {
    for (int w = 0; w < kShortWindows; ++w)
        Bands(ms, 1, ms->window[w + 1], ms->midThr.shortBand[w], ms->midEnergy.shortBand[w], ms->midRatio.shortBand[w],
              ms->sideThr.shortBand[w], ms->sideEnergy.shortBand[w], ms->sideRatio.shortBand[w]);
}

void ToMidSide(float* l, float* r, int first, int end, int step) {
    for (int k = first; k < end; k += step) {
        const float m = (l[k] + r[k]) * kSqrtHalf;
        const float s = (l[k] - r[k]) * kSqrtHalf;
        l[k] = m;
        r[k] = s;
    }
}

// Side lines that the mid masks anyway, in pairs, in the upper long bands.
void Starve(MsChan* ms, const float* mid, float* side) {
    const AdaptParam* a = ms->adapt[0];
    const int last = a->bandCount - 1;
    for (int b = kFirstStarvedBand; b <= last; ++b) {
        const float t = b < last ? std::max(ms->tonality[0][b], ms->tonality[0][b + 1]) : ms->tonality[0][b];
        const int first = a->start[b], end = a->start[b] + a->width[b];
        float em = 0, es = 0;
        for (int k = first; k < end; ++k) {
            em += mid[k] * mid[k];
            es += side[k] * side[k];
        }
        const float denominator = em + es <= kTiny ? kTiny : em + 2.0f * es;
        const float q = 3.0f * es / denominator;
        const float factor = q * q * (1.0f - t) * ms->midRatio.longBand[b];
        for (int k = first; k + 1 < end; k += 2) {
            const float m = mid[k] * mid[k] + mid[k + 1] * mid[k + 1];
            const float s = side[k] * side[k] + side[k + 1] * side[k + 1];
            if ((m + s) * factor > s) {
                side[k] = side[k + 1] = 0.0f;
                ms->starved += 2;
            }
        }
    }
}

void CopyBands(const float* thr, const float* energy, const float* ratio, int first, int end, float* toThr,
               float* toEnergy, float* toRatio) {
    for (int b = first; b < end; ++b) {
        toThr[b] = thr[b];
        toEnergy[b] = energy[b];
        toRatio[b] = ratio[b];
    }
}

void ReplaceBands(const MsChan* ms, ThrChan* const thr[2], bool longPart, int shortFirst) {
    const BandRecord* src[2][3] = {{&ms->midThr, &ms->midEnergy, &ms->midRatio},
                                   {&ms->sideThr, &ms->sideEnergy, &ms->sideRatio}};
    for (int c = 0; c < 2; ++c) {
        BandRecord* dst[3] = {&thr[c]->bandThr, &thr[c]->bandEnergy, &thr[c]->bandRatio};
        if (longPart)
            CopyBands(src[c][0]->longBand, src[c][1]->longBand, src[c][2]->longBand, 0, ms->longBands, dst[0]->longBand,
                      dst[1]->longBand, dst[2]->longBand);
        if (shortFirst >= 0)
            for (int w = 0; w < kShortWindows; ++w)
                CopyBands(src[c][0]->shortBand[w], src[c][1]->shortBand[w], src[c][2]->shortBand[w], shortFirst,
                          shortFirst + ms->shortBands[w], dst[0]->shortBand[w], dst[1]->shortBand[w], dst[2]->shortBand[w]);
    }
}

}  // namespace

EncError* CreateMsChannel(MsChan** out, PsyConf* conf) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    if (!GetCbBlockParam(conf)) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetCbBlockParam() failed");
    if (!GetPsyBlockParam(conf)) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetPsyBlockParam() failed");
    if (!GetAdaptBlockParam(conf)) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetAdaptBlockParam() failed");
    int starving = 0;
    if (UciGetSwitch("starving", "perform starving", "", &starving) != kUciDone)
        return ErrorCreate(__FILE__, __LINE__, "starving", "invalid value for option \"starving\"");
    auto* ms = static_cast<MsChan*>(AlignedCalloc(1, sizeof(MsChan), __FILE__, __LINE__));
    if (!ms) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    ms->rateClass = conf->rateClass;
    ms->cb = GetCbBlockParam(conf);
    ms->psy = GetPsyBlockParam(conf);
    ms->adapt = GetAdaptBlockParam(conf);
    ms->starving = starving;
    *out = ms;
    return nullptr;
}

int DecideMsStereo(MsChan* ms, int granule, PsyChan* const analysis[2], const ThrChan* const thr[2],
                   TraChan* const transform[2], int blockType) {
    (void)transform;
    ms->blockType = blockType;
    Energies(ms->cb[0], ms->adapt[0]->halfFft, FloatFifoEntry(analysis[0]->longFft, 0),
             FloatFifoEntry(analysis[1]->longFft, 0), ms->window[0]);
    Common(ms->cb[0], thr[0]->thrLong, thr[1]->thrLong, ms->window[0].threshold);
    const bool shortPart = blockType == kBlockShort || blockType == kBlockMixedShort;
    if (shortPart)
        for (int w = 0; w < kShortWindows; ++w) {
            Energies(ms->cb[1], ms->adapt[1]->halfFft, FloatFifoEntry(analysis[0]->shortFft, 6 - w),
                     FloatFifoEntry(analysis[1]->shortFft, 6 - w), ms->window[w + 1]);
            Common(ms->cb[1], thr[0]->thrShort[w], thr[1]->thrShort[w], ms->window[w + 1].threshold);
        }
    ms->peMid = PerceptualEntropy(ms->cb[0], ms->window[0].midEnergy, ms->window[0].threshold);
    ms->peSide = PerceptualEntropy(ms->cb[0], ms->window[0].sideEnergy, ms->window[0].threshold);
    const float g = ms->granuleMs ? 1.5f + kHysteresis : 1.5f - kHysteresis;
    ms->granuleMs = ms->peMid + ms->peSide < (thr[0]->pe[0] + thr[1]->pe[0]) * g;
    if (granule == 0) ms->frameMs = ms->granuleMs;
    if (!ms->frameMs) return 0;
    const int longSlots = ms->adapt[0]->bandCount + 1;
    const int shortSlots = ms->adapt[1]->bandCount + 1;
    if (IsLongGroup(blockType)) {
        LongBands(ms, thr);
        ms->longBands = longSlots;
    } else if (blockType == kBlockShort) {
        ShortBands(ms);
        for (int& n : ms->shortBands) n = shortSlots;
    } else {
        LongBands(ms, thr);
        ShortBands(ms);
        ms->longBands = MixedLongBands(ms->rateClass);
        for (int& n : ms->shortBands) n = shortSlots - 3;
    }
    return 0;
}

int ApplyMsStereo(MsChan* ms, TraChan* const transform[2], ThrChan* const thr[2]) {
    ms->starved = 0;
    if (!ms->frameMs) return 0;
    transform[0]->midSide = transform[1]->midSide = 1;
    float* l = transform[0]->spectrum;
    float* r = transform[1]->spectrum;
    const AdaptParam* la = ms->adapt[0];
    const AdaptParam* sa = ms->adapt[1];
    const int type = ms->blockType;
    if (IsLongGroup(type)) {
        ToMidSide(l, r, 0, la->start[ms->longBands], 1);
        if (ms->starving) Starve(ms, l, r);
        ReplaceBands(ms, thr, true, -1);
    } else if (type == kBlockShort) {
        for (int w = 0; w < kShortWindows; ++w) ToMidSide(l, r, w, 3 * sa->start[ms->shortBands[w]], 3);
        ReplaceBands(ms, thr, false, 0);
    } else {
        ToMidSide(l, r, 0, la->start[ms->longBands], 1);
        for (int w = 0; w < kShortWindows; ++w)
            ToMidSide(l, r, 3 * sa->start[3] + w, 3 * sa->start[3 + ms->shortBands[w]], 3);
        ReplaceBands(ms, thr, true, 3);
    }
    return 0;
}

void DeleteMsChannel(MsChan* ms) { AlignedFree(ms); }
