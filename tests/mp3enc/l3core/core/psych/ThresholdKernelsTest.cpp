#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp3enc/l3core/core/psych/PsyConf.h"
#include "mp3enc/l3core/core/psych/PsyTypes.h"
#include "mp3enc/l3core/core/psych/ThresholdKernels.h"

namespace {

struct Conf {
    PsyConf* c = nullptr;
    explicit Conf(float fs = 44100.0f, int rate = 64000) { EXPECT_EQ(CreatePsyConf(&c, fs, rate, 1), nullptr); }
    ~Conf() { DeletePsyConf(c); }
    const CbParam* cb(int k) const { return c->cb[k]; }
    const AdaptParam* adapt(int k) const { return c->adapt[k]; }
};

using Floats = std::vector<float>;

}  // namespace

TEST(ThresholdKernels, EnergiesSpreadAndTonalityFollowTheirDefinitions) {
    Conf conf;
    const CbParam* cb = conf.cb(0);
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> v(-30, 30), c01(0, 1);
    Floats spectrum(1024), chaos(512);
    for (float& x : spectrum) x = v(rng);
    for (float& x : chaos) x = c01(rng);
    Floats e(kMaxCb), c(kMaxCb);
    EXPECT_EQ(PartitionEnergy(spectrum.data(), chaos.data(), cb, 0.4f, e.data(), c.data()), cb->lineCount);
    int line = 0;
    for (int i = 0; i < cb->count; ++i) {
        double sum = 0, weighted = 0;
        for (int k = 0; k < cb->width[i]; ++k, ++line) {
            const double p = spectrum[2 * line] * spectrum[2 * line] + spectrum[2 * line + 1] * spectrum[2 * line + 1];
            sum += p;
            weighted += chaos[line] * p;
        }
        EXPECT_NEAR(e[i], sum, 1e-4 * sum) << i << " seed 4";
        EXPECT_NEAR(c[i], i < cb->toneCount ? weighted : 0.4 * sum, 1e-4 * sum) << i;
    }

    // One loud partition: its spread reaches neighbours by the spreading value.
    Floats impulse(kMaxCb, 0.0f), es(kMaxCb), cs(kMaxCb);
    const int j = cb->count / 2;
    impulse[j] = 1e6f;
    SpreadEnergy(cb, impulse.data(), impulse.data(), es.data(), cs.data());
    for (int i = 0; i < cb->count; ++i) {
        const double expect = SpreadingValue(cb->bark[i] - cb->bark[j], conf.c->psy[0]->thr) * 1e6;
        EXPECT_NEAR(es[i], expect < 1e6 * 1e-5 ? es[i] : expect, 1e-3 * expect) << i;
        EXPECT_GE(es[i], 1e-20f);
        EXPECT_EQ(cs[i], es[i] - 1e-20f);
    }
    Floats zero(kMaxCb, 0.0f);
    SpreadEnergy(cb, zero.data(), nullptr, es.data(), nullptr);
    for (int i = 0; i < cb->count; ++i) EXPECT_EQ(es[i], 1e-20f);

    const Floats q = {0.01f, 0.05f, 0.1f, 0.5f, 0.9f};
    const Floats one(5, 1.0f);
    CbParam five = *cb;
    five.count = 5;
    Floats t(5);
    Tonality(&five, q.data(), one.data(), t.data());
    EXPECT_FLOAT_EQ(t[0], 1.0f);
    EXPECT_FLOAT_EQ(t[1], 1.0f);
    EXPECT_NEAR(t[2], -std::log10(0.2), 1e-6);
    EXPECT_NEAR(t[3], 0.0f, 1e-7);
    EXPECT_NEAR(t[4], 0.0f, 1e-7);
}

TEST(ThresholdKernels, ThresholdTakesTheMaskingOffsetsAndTheQuietFloor) {
    Conf conf;
    const CbParam* cb = conf.cb(0);
    Floats es(kMaxCb, 1e9f), tone(kMaxCb, 1.0f), noise(kMaxCb, 0.0f), quiet(kMaxCb, 0.0f);
    Floats thrTone(kMaxCb), thrNoise(kMaxCb), thrNmt(kMaxCb), thrQuiet(kMaxCb);
    const float nmt = 6.0f;
    ThresholdFromTonality(cb, tone.data(), es.data(), nmt, thrTone.data());
    ThresholdFromTonality(cb, noise.data(), es.data(), nmt, thrNoise.data());
    ThresholdWithoutTonality(cb, es.data(), nmt, thrNmt.data());
    ThresholdFromTonality(cb, tone.data(), quiet.data(), nmt, thrQuiet.data());
    for (int i = 0; i < cb->count; ++i) {
        const double ratioTone = std::pow(10.0, -std::max(cb->bmax[i], cb->tmn[i]) / 10);
        const double ratioNoise = std::pow(10.0, -std::max<double>(cb->bmax[i], nmt) / 10);
        const double tonal = i < cb->toneCount;
        const double expectTone = std::max(1e9 * cb->norm[i] * (tonal ? ratioTone : cb->fixedRatio[i]), double(cb->quiet[i]));
        const double expectNoise = std::max(1e9 * cb->norm[i] * (tonal ? ratioNoise : cb->fixedRatio[i]), double(cb->quiet[i]));
        EXPECT_NEAR(thrTone[i], expectTone, 1e-4 * expectTone) << i;
        EXPECT_NEAR(thrNoise[i], expectNoise, 1e-4 * expectNoise) << i;
        EXPECT_NEAR(thrNmt[i], thrNoise[i], 1e-4 * expectNoise) << i;
        EXPECT_EQ(thrQuiet[i], cb->quiet[i]);
    }
}

TEST(ThresholdKernels, PreEchoEntropyAndTheShortCheck) {
    Conf conf;
    const CbParam* cb = conf.cb(0);
    const int n = cb->count;
    Floats thr(n), back1(n), back2(n), e(n);
    for (int i = 0; i < n; ++i) {
        thr[i] = 1000.0f * (i + 1);
        back1[i] = 100.0f * (i % 7);
        back2[i] = 10.0f * (i % 3);
        e[i] = i % 2 ? thr[i] * 8 : thr[i] / 2;
    }
    Floats controlled = thr;
    PreEchoControl(cb, controlled.data(), back1.data(), back2.data(), 0.1f, 32.0f);
    for (int i = 0; i < n; ++i) {
        const float expect = std::max(0.1f * thr[i], std::min({thr[i], cb->preEcho[i] * back1[i], 32.0f * back2[i]}));
        EXPECT_FLOAT_EQ(controlled[i], expect) << i;
    }
    double pe = 0;
    int above = 0;
    for (int i = 0; i < n; ++i)
        if (e[i] > thr[i]) {
            pe += cb->width[i] * std::log2((e[i] + 0.1) / thr[i]);
            ++above;
        }
    EXPECT_NEAR(PerceptualEntropy(cb, e.data(), thr.data()), pe - 2.32 * above, 1e-3 * pe);
    EXPECT_EQ(PerceptualEntropy(cb, thr.data(), thr.data()), 0.0f);

    const CbParam* s = conf.cb(1);
    Floats esLong(kMaxCb, 100.0f), thrLong(kMaxCb, 1.0f);  // long ratio 0.01
    Floats thrS[3], esS[3];
    for (int w = 0; w < 3; ++w) {
        thrS[w] = Floats(kMaxCb, w == 0 ? 0.5f : 5.0f);
        esS[w] = Floats(kMaxCb, 100.0f);
    }
    float* thrPtr[3] = {thrS[0].data(), thrS[1].data(), thrS[2].data()};
    const float* esPtr[3] = {esS[0].data(), esS[1].data(), esS[2].data()};
    CheckShortAgainstLong(s, conf.c->shortToLong, thrLong.data(), esLong.data(), thrPtr, esPtr);
    const float r = 1.0f / (1e-4f + 100.0f);
    for (int j = 0; j < s->count; ++j) {
        const bool low = j < s->lowResCount;
        EXPECT_FLOAT_EQ(thrS[0][j], 0.5f) << j << ": a lower short ratio stays";
        EXPECT_FLOAT_EQ(thrS[1][j], low ? r * 100.0f : 5.0f) << j;
    }
}

TEST(ThresholdKernels, PartitionsMapOntoBandsByOverlap) {
    for (const int kind : {0, 1}) {
        Conf conf(48000.0f, 96000);
        const AdaptParam* a = conf.adapt(kind);
        const CbParam* cb = conf.cb(kind);
        // One unit of energy and threshold per FFT line.
        Floats e(kMaxCb), thr(kMaxCb), spectrum(2 * a->halfFft, 0.0f);
        for (int j = 0; j < cb->count; ++j) e[j] = thr[j] = float(a->cbWidth[j]);
        for (int k = 0; k < a->halfFft; ++k) spectrum[2 * k] = 1.0f;
        Floats bt(kLongBandSlots), be(kLongBandSlots), br(kLongBandSlots);
        PartitionsToBands(a, thr.data(), e.data(), spectrum.data(), bt.data(), be.data(), br.data());
        for (int b = 0; b <= a->bandCount; ++b) {
            const double lo = a->start[b] * a->ratio + 0.5, hi = (a->start[b] + a->width[b]) * a->ratio + 0.5;
            if (b < a->cbMode) {
                const int lines = std::min<int>(std::ceil(hi), a->halfFft) - int(std::floor(lo));
                EXPECT_FLOAT_EQ(be[b], float(lines)) << kind << " band " << b;
                EXPECT_FLOAT_EQ(bt[b], float(lines)) << kind << " band " << b;
            } else {
                const double covered = std::min(hi, double(a->halfFft)) - lo;
                EXPECT_NEAR(be[b], covered, 1e-3) << kind << " band " << b;
                EXPECT_NEAR(bt[b], covered + 1e-7, 1e-3) << kind << " band " << b;
            }
            EXPECT_NEAR(br[b], bt[b] / be[b], 1e-6);
        }
        // Silence: each band's energy becomes its threshold, a ratio of 1.
        Floats zero(kMaxCb, 0.0f), zeroSpectrum(2 * a->halfFft, 0.0f);
        PartitionsToBands(a, thr.data(), zero.data(), zeroSpectrum.data(), bt.data(), be.data(), br.data());
        for (int b = 0; b <= a->bandCount; ++b) {
            EXPECT_EQ(be[b], bt[b]);
            EXPECT_EQ(br[b], 1.0f);
        }
        Floats ones(kMaxCb, 1.0f), mean(kLongBandSlots), share(kLongBandSlots);
        BandMean(a, ones.data(), mean.data());
        BandShare(a, ones.data(), share.data());
        for (int b = 1; b < a->bandCount; ++b) {
            EXPECT_NEAR(mean[b], 1.0, 1e-5) << b;
            EXPECT_GT(share[b], 0.0f);
        }
        double total = 0;
        for (int b = 0; b <= a->bandCount; ++b) total += share[b];
        EXPECT_NEAR(total, cb->count - 0.5 / cb->width[0], 1e-3) << "each partition shared out once";
    }
}

TEST(ThresholdKernels, BitEstimates) {
    const Floats ratio = {0.25f, 1.0f, 0.9f, 2.0f, 0.5f, 3.0f, 4.0f};
    const std::vector<int32_t> width = {4, 4, 1, 8, 4, 4, 4};
    std::vector<int32_t> start(width.size());
    for (size_t b = 1; b < width.size(); ++b) start[b] = start[b - 1] + width[b - 1];
    std::vector<int32_t> bits(width.size());
    BitsFromRatio(ratio.data(), width.data(), int(width.size()), bits.data());
    EXPECT_EQ(bits[0], int(-(4 * std::log2(0.25) + 2.32) + 0.5));
    EXPECT_EQ(bits[1], 0);
    EXPECT_EQ(bits[2], 0);  // negative estimate
    EXPECT_EQ(bits[3], 0);

    std::mt19937 rng(8);
    std::uniform_real_distribution<float> v(-1000, 1000);
    Floats spectrum(32);
    for (float& x : spectrum) x = v(rng);
    BitsFromLines(ratio.data(), spectrum.data(), width.data(), start.data(), int(width.size()), bits.data());
    for (size_t b = 0; b < 5; ++b) {
        double energy = 0, sum = 0;
        for (int k = 0; k < width[b]; ++k) energy += spectrum[start[b] + k] * spectrum[start[b] + k];
        const double g = width[b] / (energy * ratio[b] + 1e-36);
        for (int k = 0; k < width[b]; ++k) sum += std::log2(1.5 + g * spectrum[start[b] + k] * spectrum[start[b] + k]);
        EXPECT_EQ(bits[b], int(sum + 0.5)) << b << " seed 8";
    }
    EXPECT_GT(bits[3], 0) << "above 1 but below a band at or under 1";
    EXPECT_EQ(bits[5], 0);
    EXPECT_EQ(bits[6], 0);
}
