#include "mp3enc/l3core/core/psych/ThresholdKernels.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/util/VectorOps.h"

namespace {

constexpr float kSpreadFloor = 1e-20f;
constexpr float kBandFloor = 1e-7f;
constexpr float kTinyEnergy = 1.1754944e-38f;
constexpr float kDbToRatio = -0.2302585f;  // exp(kDbToRatio x dB) = 10^(-dB/10)

float RatioOfSnr(float snrDb) { return std::exp(kDbToRatio * snrDb); }

// The FFT positions of a band of MDCT lines [k, k + w).
struct Span {
    float lo, hi;
};
Span BandSpan(const AdaptParam* a, int band) {
    return {a->start[band] * a->ratio + 0.5f, (a->start[band] + a->width[band]) * a->ratio + 0.5f};
}

float Overlap(Span s, int first, int n) {
    return std::min(s.hi, static_cast<float>(first + n)) - std::max(s.lo, static_cast<float>(first));
}

// Calls f(partition, overlap in FFT lines) for each partition that overlaps a band.
template <typename F>
void ForOverlaps(const AdaptParam* a, Span s, int& from, F f) {
    while (from < a->cbCount && a->cbStart[from] + a->cbWidth[from] <= s.lo) ++from;
    for (int j = from; j < a->cbCount && a->cbStart[j] < s.hi; ++j) {
        const float o = Overlap(s, a->cbStart[j], a->cbWidth[j]);
        if (o > 0) f(j, o);
    }
}

}  // namespace

int PartitionEnergy(const float* spectrum, const float* chaos, const CbParam* cb, float defaultChaos, float* e,
                    float* c) {
    int line = 0;
    for (int i = 0; i < cb->count; ++i) {
        float sum = 0, weighted = 0;
        const bool tonal = i < cb->toneCount;
        for (int k = 0; k < cb->width[i]; ++k, ++line) {
            const float p = spectrum[2 * line] * spectrum[2 * line] + spectrum[2 * line + 1] * spectrum[2 * line + 1];
            sum += p;
            if (tonal) weighted += chaos[line] * p;
        }
        e[i] = sum;
        c[i] = tonal ? weighted : sum * defaultChaos;
    }
    return line;
}

void SpreadEnergy(const CbParam* cb, const float* e, const float* c, float* es, float* cs) {
    for (int i = 0; i < cb->count; ++i) {
        const float* row = cb->spread + i * kSpreadStride;
        const int first = cb->spreadStart[i];
        const int n = cb->spreadLength[i];
        es[i] = kSpreadFloor + VecDot(row, e + first, n);
        if (c) cs[i] = VecDot(row, c + first, n);
    }
}

void Tonality(const CbParam* cb, const float* cs, const float* es, float* tonality) {
    for (int i = 0; i < cb->count; ++i) {
        const float q = std::clamp(cs[i] / es[i], 0.05f, 0.5f);
        tonality[i] = -std::log10(2.0f * q);
    }
}

void ThresholdFromTonality(const CbParam* cb, const float* tonality, const float* es, float nmtDb, float* thr) {
    for (int i = 0; i < cb->count; ++i) {
        const float t = tonality[i];
        const float ratio =
            i < cb->toneCount ? RatioOfSnr(std::max(cb->bmax[i], t * cb->tmn[i] + (1.0f - t) * nmtDb)) : cb->fixedRatio[i];
        thr[i] = std::max(es[i] * cb->norm[i] * ratio, cb->quiet[i]);
    }
}

void ThresholdWithoutTonality(const CbParam* cb, const float* es, float nmtDb, float* thr) {
    for (int i = 0; i < cb->count; ++i) {
        const float ratio = i < cb->toneCount ? RatioOfSnr(std::max(nmtDb, cb->bmax[i])) : cb->fixedRatio[i];
        thr[i] = std::max(es[i] * cb->norm[i] * ratio, cb->quiet[i]);
    }
}

void CheckShortAgainstLong(const CbParam* shortCb, const int* shortToLong, const float* thrLong,
                           const float* esLong, float* const thrShort[3], const float* const esShort[3]) {
    for (int j = 0; j < shortCb->lowResCount && j < shortCb->count; ++j) {
        const int l = shortToLong[j];
        const float r = thrLong[l] / (1e-4f + esLong[l]);
        for (int w = 0; w < 3; ++w)
            if (r < thrShort[w][j] / (esShort[w][j] + 1e-4f)) thrShort[w][j] = r * esShort[w][j];
    }
}

void PreEchoControl(const CbParam* cb, float* thr, const float* thrBack1, const float* thrBack2, float a, float b) {
    for (int i = 0; i < cb->count; ++i)
        thr[i] = std::max(a * thr[i], std::min({thr[i], cb->preEcho[i] * thrBack1[i], b * thrBack2[i]}));
}

float PerceptualEntropy(const CbParam* cb, const float* e, const float* thr) {
    float pe = 0;
    int above = 0;
    for (int i = 0; i < cb->count; ++i)
        if (e[i] > thr[i]) {
            pe += cb->width[i] * std::log2((e[i] + 0.1f) / thr[i]);
            ++above;
        }
    pe -= 2.32f * above;
    return pe > 0 ? pe : 0.0f;
}

void PartitionsToBands(const AdaptParam* adapt, const float* thr, const float* e, const float* spectrum,
                       float* bandThr, float* bandEnergy, float* bandRatio) {
    const int bands = adapt->bandCount + 1;
    const int low = std::min(adapt->cbMode, bands);
    for (int b = 0; b < low; ++b) {
        const Span s = BandSpan(adapt, b);
        int j = 0;
        while (j + 1 < adapt->cbCount && adapt->cbStart[j + 1] < s.lo) ++j;
        float smallest = 1e30f;
        for (; j < adapt->cbCount && adapt->cbStart[j] < s.hi; ++j)
            smallest = std::min(smallest, thr[j] / adapt->cbWidth[j]);
        const int first = static_cast<int>(std::floor(s.lo));
        const int end = std::min(static_cast<int>(std::ceil(s.hi)), adapt->halfFft);
        float energy = 0;
        for (int k = first; k < end; ++k) energy += spectrum[2 * k] * spectrum[2 * k] + spectrum[2 * k + 1] * spectrum[2 * k + 1];
        bandThr[b] = smallest * std::max(end - first, 0);
        bandEnergy[b] = energy;
    }
    int from = 0;
    for (int b = low; b < bands; ++b) {
        float t = kBandFloor, en = 0;
        ForOverlaps(adapt, BandSpan(adapt, b), from, [&](int j, float o) {
            const float fraction = o / adapt->cbWidth[j];
            t += thr[j] * fraction;
            en += e[j] * fraction;
        });
        bandThr[b] = t;
        bandEnergy[b] = en;
    }
    for (int b = 0; b < bands; ++b) {
        if (bandEnergy[b] <= kTinyEnergy) bandEnergy[b] = bandThr[b];
        bandRatio[b] = bandEnergy[b] > 0 ? bandThr[b] / bandEnergy[b] : 1.0f;
    }
}

void BandMean(const AdaptParam* adapt, const float* values, float* out) {
    int from = 0;
    for (int b = 0; b <= adapt->bandCount; ++b) {
        const Span s = BandSpan(adapt, b);
        float sum = 0;
        ForOverlaps(adapt, s, from, [&](int j, float o) { sum += values[j] * o; });
        out[b] = sum / (s.hi - s.lo);
    }
}

void BandShare(const AdaptParam* adapt, const float* values, float* out) {
    int from = 0;
    for (int b = 0; b <= adapt->bandCount; ++b) {
        float sum = 0;
        ForOverlaps(adapt, BandSpan(adapt, b), from, [&](int j, float o) { sum += values[j] * o / adapt->cbWidth[j]; });
        out[b] = sum;
    }
}

void BitsFromRatio(const float* ratio, const int32_t* width, int bands, int32_t* bits) {
    for (int b = 0; b < bands; ++b) {
        float v = 0;
        if (ratio[b] < 1.0f) v = std::max(0.0f, -(width[b] * std::log2(ratio[b]) + 2.32f));
        bits[b] = static_cast<int32_t>(v + 0.5f);
    }
}

void BitsFromLines(const float* ratio, const float* spectrum, const int32_t* width, const int32_t* start, int bands,
                   int32_t* bits) {
    for (int b = 0; b < bands; ++b) {
        const float* x = spectrum + start[b];
        const float energy = VecEnergy(x, width[b]);
        const double g = width[b] / (static_cast<double>(energy) * ratio[b] + 1e-36);
        double product = 1, sum = 0;
        for (int k = 0; k < width[b]; ++k) {
            product *= 1.5 + g * x[k] * x[k];
            if (product > 1e18) {
                sum += std::log2(product);
                product = 1;
            }
        }
        sum += std::log2(product);
        bits[b] = static_cast<int32_t>(sum + 0.5);
    }
    for (int b = bands - 1; b >= 0 && ratio[b] > 1.0f; --b) bits[b] = 0;
}
