#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/CodChan.h"
#include "mp3enc/l3core/core/psych/PsyChan.h"
#include "mp3enc/l3core/core/psych/ThrChan.h"
#include "mp3enc/l3core/core/psych/ThresholdKernels.h"
#include "mp3enc/l3core/core/psych/TraChan.h"

using psytest::OptionScope;

namespace {

// One channel of the model from samples to allowed distortions, the block type
// given by the test.
struct Channel {
    PsyConf* conf = nullptr;
    PsyChan* psy = nullptr;
    TraChan* tra = nullptr;
    ThrChan* thr = nullptr;
    CodChan* cod = nullptr;
    Channel(float fs, int rate) {
        EXPECT_EQ(CreatePsyConf(&conf, fs, rate, 0), nullptr);
        EXPECT_EQ(CreatePsyChannel(&psy, conf), nullptr);
        EXPECT_EQ(CreateThresholdChannel(&thr, conf), nullptr);
        EXPECT_EQ(CreateCodingChannel(&cod, conf), nullptr);
        EXPECT_EQ(CreateTransformChannel(&tra, conf), nullptr);
    }
    ~Channel() {
        DeleteCodingChannel(cod);
        DeletePsyChannel(psy);
        DeleteThresholdChannel(thr);
        DeleteTransformChannel(tra);
        DeletePsyConf(conf);
    }
    void Granule(const float* pcm, int type) {
        AdvancePsyChannel(psy, pcm);
        AdvanceTransformChannel(tra, psy->subbands, type);
        AdvanceThresholdChannel(thr, psy, type);
        AdvanceCodingChannel(cod, tra, thr);
    }
};

std::vector<float> Tone(double hz, double fs, double amplitude, int granule) {
    std::vector<float> pcm(576);
    for (int i = 0; i < 576; ++i) pcm[i] = float(amplitude * std::sin(2 * M_PI * hz * (576.0 * granule + i) / fs));
    return pcm;
}

}  // namespace

TEST(ThrChan, SilenceLeavesTheQuietThresholdAndUnitDistortions) {
    for (const int type : {0, 2, 5}) {
        Channel ch(44100.0f, 64000);
        ASSERT_TRUE(ch.cod);
        // Created with three copies of the threshold in quiet.
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < ch.conf->cb[0]->count; ++i)
                EXPECT_EQ(FloatFifoEntry(ch.thr->preEchoLong, k)[i], ch.conf->cb[0]->quiet[i]);
        const std::vector<float> silence(576, 0.0f);
        for (int g = 0; g < 3; ++g) ch.Granule(silence.data(), type);
        for (int i = 0; i < ch.conf->cb[0]->count; ++i) EXPECT_EQ(ch.thr->thrLong[i], ch.conf->cb[0]->quiet[i]);
        for (float pe : ch.thr->pe) EXPECT_EQ(pe, 0.0f);
        const int longBands = type == 5 ? MixedLongBands(0) : ch.conf->adapt[0]->bandCount + 1;
        if (type != 2) {
            for (int b = 0; b < longBands; ++b) {
                EXPECT_EQ(ch.thr->bandRatio.longBand[b], 1.0f) << b;
                EXPECT_EQ(ch.cod->energyLong[b], 0.0f);
                EXPECT_EQ(ch.cod->distLong[b], 1.0f) << type << " band " << b;
            }
        }
        if (type != 0) {
            for (int w = 0; w < 3; ++w)
                for (int b = type == 5 ? 3 : 0; b <= ch.conf->adapt[1]->bandCount; ++b)
                    EXPECT_EQ(ch.cod->distShort[w][b], 1.0f) << type << " window " << w << " band " << b;
        }
    }
}

TEST(ThrChan, AToneIsMaskedInItsBandAndCodedBelowItsEnergy) {
    Channel ch(44100.0f, 64000);
    ASSERT_TRUE(ch.cod);
    for (int g = 0; g < 6; ++g) ch.Granule(Tone(1000, 44100, 10000, g).data(), 0);
    const AdaptParam* a = ch.conf->adapt[0];
    const int line = int(1000.0 * 576 / 22050);
    int band = 0;
    while (a->start[band + 1] <= line) ++band;
    EXPECT_GT(ch.thr->pe[0], 10.0f);
    EXPECT_LT(ch.thr->bandRatio.longBand[band], 0.05f) << "a steady tone stands well above its threshold";
    // The tone's band holds most of the coded energy.
    double total = 0;
    for (int b = 0; b <= a->bandCount; ++b) total += ch.cod->energyLong[b];
    EXPECT_GT(ch.cod->energyLong[band] + ch.cod->energyLong[band - 1] + ch.cod->energyLong[band + 1], 0.95 * total);
    for (int b = 0; b <= a->bandCount; ++b) {
        const float* x = ch.tra->spectrum + a->start[b];
        double e = 0;
        for (int k = 0; k < a->width[b]; ++k) e += double(x[k]) * x[k];
        EXPECT_NEAR(ch.cod->energyLong[b], e, 1e-4 * e + 1e-12) << b;
        if (e == 0) continue;
        const double dist =
            0.5 * e * ch.thr->bandRatio.longBand[b] + 0.253125 * 9.8765431e-06 * ch.thr->bandThr.longBand[b];
        EXPECT_NEAR(ch.cod->distLong[b], dist, 1e-4 * dist) << b;
    }
    EXPECT_LT(ch.cod->distLong[band], 0.01 * ch.cod->energyLong[band]);
    // Nothing above the lowpass survives in a long block.
    const PsyParam* p = ch.conf->psy[0];
    for (int k = std::min(p->mdctLowpass, p->sfb->lineLimit); k < 576; ++k) EXPECT_EQ(ch.tra->spectrum[k], 0.0f) << k;
}

TEST(ThrChan, ShortAndMixedGranulesClearOnlyWhereTheyShould) {
    for (const int type : {2, 5}) {
        Channel ch(48000.0f, 64000);
        ASSERT_TRUE(ch.cod);
        std::vector<float> noise(576);
        unsigned seed = 17;
        for (int g = 0; g < 4; ++g) {
            for (float& s : noise) s = float(int((seed = seed * 1103515245u + 12345u) >> 16 & 0x3FFF) - 8192);
            ch.Granule(noise.data(), type);
        }
        const PsyParam* p = ch.conf->psy[1];
        const int cut = std::min(p->mdctLowpass, p->sfb->lineLimit);
        for (int w = 0; w < 3; ++w) {
            for (int b = type == 5 ? 3 : 0; b < ch.conf->adapt[1]->bandCount; ++b) {
                EXPECT_GT(ch.cod->energyShort[w][b], 0.0f) << type << " " << w << " " << b;
                EXPECT_NEAR(ch.cod->distShort[w][b], ch.cod->energyShort[w][b] * ch.thr->bandRatio.shortBand[w][b],
                            1e-4 * ch.cod->distShort[w][b]);
            }
            if (type == 2) {
                for (int k = cut; k < 192; ++k) EXPECT_EQ(ch.tra->spectrum[3 * k + w], 0.0f);
            }
        }
        if (type == 5) {
            int kept = 0;
            for (int k = 3 * cut; k < 576; ++k) kept += ch.tra->spectrum[k] != 0.0f;
            EXPECT_GT(kept, 0) << "a mixed granule keeps the lines above the lowpass";
        }
    }
}

TEST(ThrChan, PreNoToneFillsTheFifoWithoutTonality) {
    OptionScope scope;
    scope.Set("preNoTone");
    Channel ch(32000.0f, 96000);
    ASSERT_TRUE(ch.cod);
    EXPECT_EQ(ch.thr->preNoTone, 1);
    for (int g = 0; g < 4; ++g) ch.Granule(Tone(2000, 32000, 8000, g).data(), 0);
    const CbParam* cb = ch.conf->cb[0];
    std::vector<float> noTone(kMaxCb), tonal(kMaxCb);
    ThresholdWithoutTonality(cb, ch.thr->window[0].spread, ch.conf->psy[0]->thr->nmtDb, noTone.data());
    ThresholdFromTonality(cb, ch.thr->window[0].tonality, ch.thr->window[0].spread, ch.conf->psy[0]->thr->nmtDb,
                          tonal.data());
    const float* stored = FloatFifoEntry(ch.thr->preEchoLong, 0);
    int differ = 0;
    for (int i = 0; i < cb->count; ++i) {
        EXPECT_EQ(stored[i], noTone[i]) << i;
        differ += noTone[i] != tonal[i];
    }
    EXPECT_GT(differ, 0) << "the tone lowers the threshold the granule uses";
}

TEST(ThrChan, CstLimitsCoarseShortRatiosByTheLongOnes) {
    std::vector<float> with[3], without[3];
    for (const bool cst : {false, true}) {
        OptionScope scope;
        if (cst) scope.Set("cst");
        Channel ch(44100.0f, 128000);
        ASSERT_TRUE(ch.cod);
        EXPECT_EQ(ch.conf->cst, cst ? 1 : 0);
        EXPECT_EQ(ch.conf->firstLimitedLine, 6);
        for (int g = 0; g < 4; ++g) ch.Granule(Tone(150, 44100, 12000, g).data(), 2);
        for (int w = 0; w < 3; ++w) (cst ? with : without)[w].assign(ch.thr->thrShort[w], ch.thr->thrShort[w] + kMaxCb);
    }
    for (int w = 0; w < 3; ++w)
        for (int j = 0; j < kMaxCb; ++j) EXPECT_LE(with[w][j], without[w][j]) << w << " " << j;
}

// Two encoders may analyse at once on different threads: the option registry
// is the only process-wide state they read, and each reads it in its own scope.
TEST(ThrChan, TwoChannelsOnTwoThreadsComputeAlike) {
    std::vector<float> ratios[2];
    auto run = [](std::vector<float>* out) {
        OptionScope scope;
        scope.Set("cst");
        Channel ch(48000.0f, 64000);
        if (!ch.cod) return;
        for (int g = 0; g < 8; ++g) ch.Granule(Tone(3000, 48000, 9000, g).data(), g % 2 ? 2 : 0);
        out->assign(ch.cod->distLong, ch.cod->distLong + kLongBandSlots);
        for (int w = 0; w < 3; ++w) out->insert(out->end(), ch.cod->distShort[w], ch.cod->distShort[w] + kShortBandSlots);
    };
    std::thread a(run, &ratios[0]);
    std::thread b(run, &ratios[1]);
    a.join();
    b.join();
    ASSERT_FALSE(ratios[0].empty());
    EXPECT_EQ(ratios[0], ratios[1]);
}
