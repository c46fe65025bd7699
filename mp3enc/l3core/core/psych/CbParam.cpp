#include "mp3enc/l3core/core/psych/CbParam.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr float kThird = 1.0f / 3.0f;
constexpr float kBandThird = 0.333f;
constexpr float kSpreadCut = 1e-5f;
constexpr float kQuietScale = 16887.8f;  // dB SPL to 16-bit full-scale energy per line

struct Builder {
    CbParam* cb;
    float lineHz;  // line spacing m
    bool overflow = false;

    float BarkAt(int line) const { return BarkOf(line * lineHz); }

    void Add(int first, int end) {
        if (end <= first) return;
        if (cb->count >= kMaxCb) {
            overflow = true;
            return;
        }
        const float z0 = BarkAt(first);
        const int i = cb->count++;
        cb->start[i] = first;
        cb->width[i] = end - first;
        cb->bark[i] = std::min(end - first == 1 ? z0 : (BarkAt(end) + z0) * 0.5f, 24.0f);
    }
};

// Partitions of a third of a Bark over the lines below the FFT line limit;
// the last one grows towards the half FFT length while it stays that narrow.
void BuildPlain(Builder& b, int lineLimit, int half) {
    int first = 0;
    float z0 = b.BarkAt(0);
    for (int i = 1; i < lineLimit && b.cb->count < kMaxCb; ++i) {
        const float z = b.BarkAt(i);
        if (z - z0 > kThird) {
            b.Add(first, i);
            z0 = z;
            first = i;
        }
    }
    int end = lineLimit;
    while (end < half && b.BarkAt(end + 1) - b.BarkAt(first) <= kThird) ++end;
    b.Add(first, end);
}

// Partitions along the scale-factor bands, their edges scaled to FFT lines:
// narrow bands merged, wide ones split into equal parts.
void BuildFromBands(Builder& b, const PsyParam* set) {
    const SfbParam* s = set->sfb;
    const int half = set->halfFft;
    const float scale = static_cast<float>(half) / s->lineCount;
    int edges[24];
    const int bands = s->bandCount + 1;
    for (int i = 0; i <= bands; ++i) edges[i] = std::min(half, static_cast<int>(s->start[i] * scale + 0.5f));
    edges[bands] = half;
    int band = 0;
    while (band < bands && !b.overflow) {
        const int first = edges[band];
        int end = edges[band + 1];
        ++band;
        if (end <= first) continue;
        const float width = b.BarkAt(end) - b.BarkAt(first);
        if (width < kBandThird) {
            while (b.BarkAt(end) - b.BarkAt(first) < kBandThird && end < half && band < bands) {
                end = edges[band + 1];
                ++band;
            }
            b.Add(first, end);
            continue;
        }
        const int n = end - first;
        int parts = 1;
        if (width > kBandThird) {
            parts = n;
            for (int j = 2; j < n; ++j)
                if (n % j == 0 && width / j <= kBandThird) {
                    parts = j;
                    break;
                }
            // A band of awkward width would fall into single lines and, at low
            // rates, past the partition limit: near-equal parts instead.
            const int needed = static_cast<int>(std::ceil(width / kBandThird));
            if (parts > 2 * needed) parts = needed;
        }
        for (int j = 0; j < parts; ++j) b.Add(first + j * n / parts, first + (j + 1) * n / parts);
    }
}

void SetCounts(CbParam* cb, const PsyParam* set) {
    int end = 0;
    for (int i = 0; i < cb->count; ++i) {
        end += cb->width[i];
        if (end <= set->toneLimit) {
            cb->toneCount = i + 1;
            cb->toneLines = end;
        }
        if (end <= set->combLimit) cb->combLines = end;
    }
    cb->lineCount = end;
}

void SetValues(CbParam* cb, const ThrParam* t, bool noBmax) {
    for (int i = 0; i < cb->count; ++i) {
        const int k = std::clamp(static_cast<int>(cb->bark[i]), 0, kThrBarks - 1);
        cb->bmax[i] = noBmax ? 0.0f : t->bmax[k];
        cb->preEcho[i] = t->preEchoRatio[k];
        cb->quiet[i] = std::pow(10.0f, (t->quietDb[k] - t->quietOffsetDb) * 0.1f) * kQuietScale * cb->width[i];
        cb->factor[i] = 0.01f * t->factor[k];
        float tmn = cb->bark[i] * t->tmnSlopeDb + t->tmnOffsetDb;
        tmn = t->tmnSlopeDb <= 0 ? std::min(tmn, t->tmnDb) : std::max(tmn, t->tmnDb);
        if (t->overrideFirst >= 0 && i >= t->overrideFirst && i < t->overrideEnd) tmn = t->overrideDb;
        cb->tmn[i] = tmn;
        // Chosen: above the tonality limit every partition is taken as noise,
        // masked at the set's second masking value (never below bmax).
        cb->fixedRatio[i] = cb->factor[i] * std::pow(10.0f, -0.1f * std::max(t->secondMaskDb, cb->bmax[i]));
    }
    cb->lowResCount = 1;
    for (int i = 1; i < cb->count && cb->bark[i] - cb->bark[i - 1] > kBandThird; ++i) ++cb->lowResCount;
    const int limit = t->bandLimit;
    cb->bandLimit = limit < 0 ? std::max(0, cb->count + limit + 1) : std::min(limit, cb->count);
}

void SetSpreading(CbParam* cb, const ThrParam* t) {
    for (int r = 0; r < cb->count; ++r) {
        float* row = cb->spread + r * kSpreadStride;
        float sum = 0;
        int first = -1, length = 0;
        bool open = true;
        for (int c = 0; c < cb->count; ++c) {
            const float v = SpreadingValue(cb->bark[r] - cb->bark[c], t);
            sum += v;
            if (first < 0) {
                if (v > kSpreadCut) first = c;
            } else if (open && v < kSpreadCut) {
                open = false;
            }
            if (first >= 0 && open) row[length++] = v;
        }
        cb->spreadStart[r] = std::max(first, 0);
        cb->spreadLength[r] = length;
        cb->norm[r] = sum > 0 ? 1.0f / sum : 0.0f;
    }
}

}  // namespace

float SpreadingValue(float d, const ThrParam* t) {
    float x;
    if (d < 0)
        x = t->oneSided ? 0.0f : d * t->maskLow;
    else
        x = d * t->maskHigh;
    float h = 0;
    if (!t->noHole && x >= 0.5f && x <= 2.5f) h = 8.0f * ((x - 0.5f) * (x - 0.5f) - 2.0f * (x - 0.5f));
    const float y = 15.811f + 7.5f * (x + 0.474f) - 17.5f * std::sqrt(1.0f + (x + 0.474f) * (x + 0.474f));
    return y <= -100.0f ? 0.0f : std::pow(10.0f, (h + y) * 0.1f);
}

EncError* CreateCbParam(CbParam** out, const PsyParam* set, int complexMdct, int noBmax) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    if (!set || !set->sfb || !set->thr) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    // The chaos measure's edge rules read six lines back from the end of its range.
    if (set->fftLimit < kMinFftLines)
        return ErrorCreate(__FILE__, __LINE__, nullptr,
                           "invalid function parameters: a bandwidth of %.0f Hz leaves %d FFT lines, fewer than %d",
                           static_cast<double>(set->cod ? set->cod->values[0] : 0.0f), set->fftLimit, kMinFftLines);
    auto* cb = static_cast<CbParam*>(AlignedCalloc(1, sizeof(CbParam), __FILE__, __LINE__));
    if (!cb) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    cb->spread = static_cast<float*>(AlignedCalloc(kMaxCb * kSpreadStride, sizeof(float), __FILE__, __LINE__));
    if (!cb->spread) {
        DeleteCbParam(cb);
        return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    }
    Builder b{cb, 0.5f * set->sampleRate / set->halfFft};
    if (complexMdct)
        BuildFromBands(b, set);
    else
        BuildPlain(b, set->fftLimit, set->halfFft);
    if (b.overflow) {
        DeleteCbParam(cb);
        return ErrorCreate(__FILE__, __LINE__, nullptr, "MAX_CB too small");
    }
    cb->start[cb->count] = set->halfFft;
    SetCounts(cb, set);
    SetValues(cb, set->thr, noBmax != 0);
    SetSpreading(cb, set->thr);
    *out = cb;
    return nullptr;
}

void DeleteCbParam(CbParam* table) {
    if (!table) return;
    AlignedFree(table->spread);
    AlignedFree(table);
}
