#include "mp3enc/l3core/core/psych/IsChan.h"

#include <algorithm>
#include <cstdlib>

#include "mp3enc/l3core/core/psych/IsPosition.h"
#include "mp3enc/l3core/core/psych/MsChan.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/l3core/core/psych/ThrChan.h"
#include "mp3enc/l3core/core/psych/ThresholdKernels.h"
#include "mp3enc/l3core/core/psych/TraChan.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kLowestLongBound = 9;
constexpr int kLowestShortBound = 7;
constexpr int kSideInfoBits = 120;
constexpr float kMergeCentre = 2.2f;
constexpr float kMergeHysteresis = 0.85f;
constexpr float kShortFactorLimit = 5.0f;

// How much of the frame's bits the demand may take and how far past that it
// may stay, for the long and the short bands.
struct BoundRule {
    float available;
    float slack;
    int lowest;
};
constexpr BoundRule kLongRule{0.85f, 0.5f, kLowestLongBound};
constexpr BoundRule kShortRule{0.8f, 0.4f, kLowestShortBound};

// Window w of interleaved short lines, one after the other.
void Deinterleave(const float* x, int w, float* out) {
    for (int k = 0; k < kShortWindowLines; ++k) out[k] = x[3 * k + w];
}

// Group g: 0 the long bands, 1 to 3 the short windows.
void Quantities(IsChan* is, const MsChan* ms, ThrChan* const thr[2], TraChan* const tra[2], int g) {
    const int kind = g == 0 ? 0 : 1;
    const AdaptParam* a = is->adapt[kind];
    const int slots = a->bandCount + 1;
    IsBands& q = is->bands[g];
    BandShare(a, thr[0]->window[g].energy, q.left);
    BandShare(a, thr[1]->window[g].energy, q.right);
    BandShare(a, ms->window[g].midEnergy, q.twiceMid);
    for (int b = 0; b < slots; ++b) q.twiceMid[b] *= 2.0f;

    const float* ratio[4];
    if (g == 0) {
        ratio[0] = thr[0]->bandRatio.longBand;
        ratio[1] = thr[1]->bandRatio.longBand;
        ratio[2] = ms->midRatio.longBand;
        ratio[3] = ms->sideRatio.longBand;
    } else {
        ratio[0] = thr[0]->bandRatio.shortBand[g - 1];
        ratio[1] = thr[1]->bandRatio.shortBand[g - 1];
        ratio[2] = ms->midRatio.shortBand[g - 1];
        ratio[3] = ms->sideRatio.shortBand[g - 1];
    }
    float window[2][kShortWindowLines];
    const float* spectrum[2] = {tra[0]->spectrum, tra[1]->spectrum};
    if (g > 0)
        for (int c = 0; c < 2; ++c) {
            Deinterleave(tra[c]->spectrum, g - 1, window[c]);
            spectrum[c] = window[c];
        }
    // Mid and side still lie in the left and right spectra at this point.
    const int pairs = ms->frameMs ? 4 : 2;
    for (int d = 0; d < pairs; ++d) BitsFromLines(ratio[d], spectrum[d % 2], a->width, a->start, slots, q.demand[d]);

    for (int b = 0; b < slots; ++b) {
        const int louder = q.left[b] > q.right[b] ? 0 : 1;
        q.ratio[b] = ratio[louder][b];
        q.threshold[b] = q.ratio[b] * q.twiceMid[b];
        q.louderDemand[b] = q.demand[louder][b];
    }
    for (int b = 0; b < a->bandCount; ++b) {
        const IsPosition p = IntensityPosition(is->rateClass, q.left[b], q.right[b], q.twiceMid[b]);
        q.position[b] = p.position;
        q.factor[b] = p.factor;
    }
    q.factor[a->bandCount] = q.factor[a->bandCount - 1];
}

// The lowest band from which the right channel can go, over groups
// [first, first + groups) and bands [firstBand, bandEnd): each step gives up
// the band below the bound in every group while the demand stays too high.
int DemandBound(const IsChan* is, bool midSide, int first, int groups, int firstBand, int bandEnd, const BoundRule& rule) {
    const int available = static_cast<int>(rule.available * static_cast<float>(is->frameBits - kSideInfoBits));
    const int d0 = midSide ? 2 : 0;
    int demand = 0;
    for (int g = first; g < first + groups; ++g)
        for (int b = firstBand; b < bandEnd; ++b) demand += is->bands[g].demand[d0][b] + is->bands[g].demand[d0 + 1][b];
    const int slack = static_cast<int>(rule.slack * static_cast<float>(demand - available));
    int bound = bandEnd;
    while (available + slack < demand && bound > rule.lowest) {
        const int b = bound - 1;
        for (int g = first; g < first + groups; ++g) {
            const IsBands& q = is->bands[g];
            demand += q.louderDemand[b] - q.demand[d0][b] - q.demand[d0 + 1][b];
        }
        --bound;
    }
    return bound;
}

// The long bound with its hold: a move of one or two bands from a positive
// previous bound is not worth the change.
int LongBound(IsChan* is, bool midSide, int bandEnd) {
    int bound = DemandBound(is, midSide, 0, 1, 0, bandEnd, kLongRule);
    const int previous = is->previousBound;
    if (previous > 0 && std::abs(bound - previous) <= 2 && bound < bandEnd) bound = previous;
    is->previousBound = bound;
    return bound;
}

void Merge(float* l, float* r, int first, int end, int step, float f) {
    for (int k = first; k < end; k += step) {
        l[k] = f * (l[k] + r[k]);
        r[k] = 0.0f;
    }
}

// Bands [bound, end) of the long lines; with the hysteresis, a band whose
// channels cancel too much in the sum keeps only its left lines.
void MergeLong(IsChan* is, TraChan* const tra[2], int bound, int end, bool hysteresis) {
    const AdaptParam* a = is->adapt[0];
    IsBands& q = is->bands[0];
    float* l = tra[0]->spectrum;
    float* r = tra[1]->spectrum;
    for (int b = bound; b < end; ++b) {
        const int first = a->start[b], last = a->start[b] + a->width[b];
        if (hysteresis && b < a->bandCount) {
            if (q.factor[b] < kMergeCentre - kMergeHysteresis) is->merge[b] = 1;
            if (q.factor[b] >= kMergeCentre + kMergeHysteresis) is->merge[b] = 0;
            if (!is->merge[b]) {
                std::fill(r + first, r + last, 0.0f);
                q.factor[b] = UnmergedFactor(is->rateClass, q.left[b], q.right[b]);
            }
        }
        Merge(l, r, first, last, 1, q.factor[b]);
    }
}

void MergeShort(IsChan* is, TraChan* const tra[2], int w, int bound, bool limit) {
    const AdaptParam* a = is->adapt[1];
    IsBands& q = is->bands[w + 1];
    for (int b = bound; b <= a->bandCount; ++b) {
        const float f = limit ? std::min(q.factor[b], kShortFactorLimit) : q.factor[b];
        Merge(tra[0]->spectrum, tra[1]->spectrum, 3 * a->start[b] + w, 3 * (a->start[b] + a->width[b]), 3, f);
    }
    for (int k = 3 * a->start[a->bandCount + 1] + w; k < kGranuleLines; k += 3) tra[1]->spectrum[k] = 0.0f;
}

// The threshold channels' band values of the intensity bands: the left one
// carries both channels, the right one nothing.
void RewriteBands(const IsBands& q, ThrChan* const thr[2], int bound, int end, int w) {
    for (int b = bound; b < end; ++b) {
        float* left[3] = {&thr[0]->bandEnergy.longBand[b], &thr[0]->bandThr.longBand[b], &thr[0]->bandRatio.longBand[b]};
        float* right[3] = {&thr[1]->bandEnergy.longBand[b], &thr[1]->bandThr.longBand[b], &thr[1]->bandRatio.longBand[b]};
        if (w >= 0) {
            left[0] = &thr[0]->bandEnergy.shortBand[w][b];
            left[1] = &thr[0]->bandThr.shortBand[w][b];
            left[2] = &thr[0]->bandRatio.shortBand[w][b];
            right[0] = &thr[1]->bandEnergy.shortBand[w][b];
            right[1] = &thr[1]->bandThr.shortBand[w][b];
            right[2] = &thr[1]->bandRatio.shortBand[w][b];
        }
        *left[0] = q.twiceMid[b];
        *left[1] = q.threshold[b];
        *left[2] = q.ratio[b];
        *right[0] = *right[1] = *right[2] = 0.0f;
    }
}

// Positions from the bound up; bands past the analysed ones repeat the last.
void StorePositions(const IsBands& q, int bound, int bandCount, int slots, int* out) {
    for (int b = bound; b < slots; ++b) out[b] = q.position[std::min(b, bandCount - 1)];
}

void LongGroup(IsChan* is, MsChan* ms, ThrChan* const thr[2], TraChan* const tra[2]) {
    const AdaptParam* a = is->adapt[0];
    Quantities(is, ms, thr, tra, 0);
    const int bound = LongBound(is, ms->frameMs != 0, a->bandCount);
    MergeLong(is, tra, bound, a->bandCount + 1, true);
    std::fill(tra[1]->spectrum + a->start[a->bandCount + 1], tra[1]->spectrum + kGranuleLines, 0.0f);
    RewriteBands(is->bands[0], thr, bound, a->bandCount + 1, -1);
    IsRecord& rec = is->record;
    rec.longBound = bound;
    rec.longCount = a->bandCount - bound;
    StorePositions(is->bands[0], bound, a->bandCount, kIsLongSlots, rec.longPos);
    ms->longBands = bound;
}

// Short windows from band firstBand; the three share one bound.
void ShortGroup(IsChan* is, MsChan* ms, ThrChan* const thr[2], TraChan* const tra[2], int firstBand, int lowest,
                bool mixed) {
    const AdaptParam* a = is->adapt[1];
    for (int w = 0; w < kShortWindows; ++w) Quantities(is, ms, thr, tra, w + 1);
    const int bound = std::max(DemandBound(is, ms->frameMs != 0, 1, kShortWindows, firstBand, a->bandCount, kShortRule),
                               lowest);
    IsRecord& rec = is->record;
    for (int w = 0; w < kShortWindows; ++w) {
        MergeShort(is, tra, w, bound, !mixed);
        RewriteBands(is->bands[w + 1], thr, bound, a->bandCount + 1, w);
        rec.shortBound[w] = bound;
        rec.shortCount[w] = a->bandCount - bound;
        StorePositions(is->bands[w + 1], bound, a->bandCount, kIsShortSlots, rec.shortPos[w]);
        ms->shortBands[w] = bound - firstBand;
    }
}

void MixedGroup(IsChan* is, MsChan* ms, ThrChan* const thr[2], TraChan* const tra[2]) {
    const int longBands = MixedLongBands(is->rateClass);
    Quantities(is, ms, thr, tra, 0);
    const int bound = LongBound(is, ms->frameMs != 0, longBands);
    MergeLong(is, tra, bound, longBands, false);
    RewriteBands(is->bands[0], thr, bound, longBands, -1);
    is->record.longBound = bound;
    is->record.longCount = longBands - bound;
    StorePositions(is->bands[0], bound, is->adapt[0]->bandCount, longBands, is->record.longPos);
    ms->longBands = bound;
    // Below the boundary the long part decides: short intensity bands then start at band 3.
    const int lowest = bound < longBands ? 3 : kLowestShortBound;
    ShortGroup(is, ms, thr, tra, 3, lowest, true);
    if (bound < longBands)
        for (int w = 0; w < kShortWindows; ++w) is->record.shortBound[w] = 3;
}

}  // namespace

EncError* CreateIsChannel(IsChan** out, PsyConf* conf) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    if (!GetCbBlockParam(conf)) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetCbBlockParam() failed");
    if (!GetPsyBlockParam(conf)) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetPsyBlockParam() failed");
    if (!GetAdaptBlockParam(conf)) return ErrorCreate(__FILE__, __LINE__, nullptr, "GetAdaptBlockParam() failed");
    auto* is = static_cast<IsChan*>(AlignedCalloc(1, sizeof(IsChan), __FILE__, __LINE__));
    if (!is) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    is->cb = GetCbBlockParam(conf);
    is->psy = GetPsyBlockParam(conf);
    is->adapt = GetAdaptBlockParam(conf);
    is->rateClass = conf->rateClass;
    const PsyParam* p = is->psy[0];
    is->frameBits = static_cast<int>(1152.0f / p->sampleRate * static_cast<float>(p->bitRate));
    for (int& m : is->merge) m = 1;
    is->previousBound = -1;
    *out = is;
    return nullptr;
}

int AdvanceIsChannel(IsChan* is, MsChan* ms, PsyChan* const analysis[2], ThrChan* const thr[2],
                     TraChan* const tra[2], int blockType) {
    (void)analysis;
    is->blockType = blockType;
    IsRecord& rec = is->record;
    rec = IsRecord{};
    rec.longBound = is->adapt[0]->bandCount;
    for (int& b : rec.shortBound) b = is->adapt[1]->bandCount;
    if (IsLongGroup(blockType)) {
        LongGroup(is, ms, thr, tra);
    } else if (blockType == kBlockShort) {
        ShortGroup(is, ms, thr, tra, 0, kLowestShortBound, false);
        is->previousBound = -1;
    } else {
        MixedGroup(is, ms, thr, tra);
    }
    const bool any = rec.longCount > 0 || rec.shortCount[0] > 0 || rec.shortCount[1] > 0 || rec.shortCount[2] > 0;
    if (any || is->rateClass == 0) tra[1]->intensity = &rec;
    return 0;
}

void DeleteIsChannel(IsChan* is) { AlignedFree(is); }
