#include <gtest/gtest.h>

#include <cmath>

#include "mp3enc/l3core/core/psych/PsyParam.h"
#include "PsyTestSupport.h"

using psytest::OptionScope;
using psytest::TakeMessage;

namespace {

int Trunc(double v) { return static_cast<int>(v); }

}  // namespace

TEST(PsyParam, LineLimitsFollowTheBandwidthAndTheToneFrequencies) {
    for (const float fs : {8000.0f, 11025.0f, 16000.0f, 22050.0f, 24000.0f, 32000.0f, 44100.0f, 48000.0f}) {
        for (const int kind : {0, 2}) {
            PsyParam* p = nullptr;
            ASSERT_EQ(CreatePsyParam(&p, kind == 0 ? 1024 : 256, 576, fs, 64000, 1, kind, 1), nullptr) << fs;
            const int n = kind == 0 ? 576 : 192;
            const int h = kind == 0 ? 512 : 128;
            EXPECT_EQ(p->halfFft, h);
            EXPECT_EQ(p->sfb->lineCount, n);
            const double bw = p->cod->values[0];
            EXPECT_LE(bw, fs / 2);
            const int lowpass = Trunc(n * 2.0 * bw / fs);
            EXPECT_EQ(p->mdctLowpass, lowpass) << fs;
            const int u = p->sfb->lineLimit;
            EXPECT_GE(u * (fs / 2.0) / n, bw - fs / 2.0 / n) << "the coded lines reach the bandwidth";
            const int fft = std::min(Trunc(double(h) / n * u + 0.5), Trunc(lowpass * double(h) / n + 0.5));
            EXPECT_EQ(p->fftLimit, fft);
            EXPECT_EQ(p->toneLimit, std::min(fft, Trunc(h * p->thr->toneLimitHz / (0.5 * fs) + 0.5)));
            EXPECT_EQ(p->combLimit, std::min(fft, Trunc(h * p->thr->combLimitHz / (0.5 * fs) + 0.5)));
            DeletePsyParam(p);
        }
    }
}

TEST(PsyParam, OptionsOverwriteTheirFieldsLongAndShortApart) {
    OptionScope scope;
    scope.Set("NMT", "7.5");
    scope.Set("TMN_S", "30");
    scope.Set("rpre", "3");
    scope.Set("maskNoHole_S");
    scope.Set("CHAOS_METHOD", "4");
    scope.Set("peMax", "1200");
    scope.Set("bw", "10000");
    PsyParam* l = nullptr;
    PsyParam* s = nullptr;
    ASSERT_EQ(CreatePsyParam(&l, 1024, 576, 44100.0f, 64000, 1, 1, 1), nullptr);
    ASSERT_EQ(CreatePsyParam(&s, 256, 576, 44100.0f, 64000, 1, 2, 1), nullptr);
    EXPECT_FLOAT_EQ(l->thr->nmtDb, 7.5f);
    EXPECT_NE(s->thr->nmtDb, 7.5f);
    EXPECT_FLOAT_EQ(s->thr->tmnDb, 30.0f);
    EXPECT_NE(l->thr->tmnDb, 30.0f);
    for (float r : l->thr->preEchoRatio) EXPECT_FLOAT_EQ(r, 3.0f);
    EXPECT_NE(s->thr->preEchoRatio[0], 3.0f);
    EXPECT_EQ(s->thr->noHole, 1);
    EXPECT_EQ(l->thr->chaosMethod, 4);
    EXPECT_FLOAT_EQ(l->cod->values[kCodPeMax], 1200.0f);
    EXPECT_FLOAT_EQ(l->cod->values[0], 10000.0f);
    EXPECT_EQ(l->mdctLowpass, Trunc(576 * 2.0 * 10000 / 44100));
    DeletePsyParam(l);
    DeletePsyParam(s);
}

TEST(PsyParam, RefusesWhatItCannotBuild) {
    PsyParam* p = reinterpret_cast<PsyParam*>(&p);
    EXPECT_EQ(TakeMessage(CreatePsyParam(&p, 1024, 576, 44100.0f, 64000, 1, 4, 1)), "invalid block type parameter");
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(TakeMessage(CreatePsyParam(&p, 1024, 576, 44000.0f, 64000, 1, 0, 1)), "error initializing sfbParam");
    EXPECT_EQ(TakeMessage(CreatePsyParam(&p, 1024, 576, 44100.0f, 400000, 1, 0, 1)), "error initializing thrParam");
    EXPECT_EQ(TakeMessage(CreatePsyParam(&p, 1024, 576, 32000.0f, 12000, 1, 0, 1)),
              "error initializing codParam: no parameter set found for this combination of bit rate, sample rate and "
              "channel mode");
    EXPECT_EQ(TakeMessage(CreatePsyParam(&p, 1023, 576, 44100.0f, 64000, 1, 0, 1)), "invalid function parameters");
    EXPECT_EQ(p, nullptr);
    OptionScope scope;
    scope.Set("CHAOS_METHOD", "5");
    EXPECT_NE(TakeMessage(CreatePsyParam(&p, 1024, 576, 44100.0f, 64000, 1, 0, 1)), "");
    EXPECT_EQ(p, nullptr);
}

TEST(PsyParam, ZeroBandwidthGivesZeroLineLimits) {
    OptionScope scope;
    scope.Set("bw", "0");
    PsyParam* p = nullptr;
    ASSERT_EQ(CreatePsyParam(&p, 1024, 576, 48000.0f, 64000, 0, 0, 1), nullptr);
    EXPECT_EQ(p->mdctLowpass, 0);
    EXPECT_EQ(p->fftLimit, 0);
    EXPECT_EQ(p->toneLimit, 0);
    EXPECT_EQ(p->combLimit, 0);
    DeletePsyParam(p);
}

TEST(PsyParam, BarkScaleSquaresTheSecondArctangent) {
    for (const double f : {0.0, 100.0, 1000.0, 4000.0, 15500.0}) {
        const double a = std::atan(f / 7500.0);
        EXPECT_NEAR(BarkOf(float(f)), 13.3 * std::atan(0.00076 * f) + 3.5 * a * a, 1e-4);
    }
}

TEST(PsyParam, LowpassAdjustmentMovesToBandBorders) {
    for (const float fs : {22050.0f, 32000.0f, 44100.0f, 48000.0f}) {
        for (const int rate : {32000, 48000, 64000, 96000}) {
            PsyParam* l = nullptr;
            PsyParam* s = nullptr;
            if (CreatePsyParam(&l, 1024, 576, fs, rate, 1, 0, 1)) continue;
            ASSERT_EQ(CreatePsyParam(&s, 256, 576, fs, rate, 1, 2, 1), nullptr);
            const int l0 = l->mdctLowpass, s0 = s->mdctLowpass;
            AdjustLowpass(fs, l, s);
            // Only a border within 5 % of the bandwidth, or the short one's triple, is taken.
            bool lBorder = l->mdctLowpass == l0 || l->mdctLowpass == 3 * s->mdctLowpass;
            for (int b = 0; b <= l->sfb->bandCount; ++b) lBorder = lBorder || l->sfb->start[b] == l->mdctLowpass;
            EXPECT_TRUE(lBorder) << fs << " " << rate;
            bool sBorder = s->mdctLowpass == s0 || s->mdctLowpass == int(l->mdctLowpass / 3.0 + 0.5);
            for (int b = 0; b <= s->sfb->bandCount; ++b) sBorder = sBorder || s->sfb->start[b] == s->mdctLowpass;
            EXPECT_TRUE(sBorder) << fs << " " << rate;
            EXPECT_NEAR(l->mdctLowpass, l0, 0.08 * l0);
            EXPECT_NEAR(s->mdctLowpass, s0, 0.08 * s0 + 1);
            DeletePsyParam(l);
            DeletePsyParam(s);
        }
    }
    // Different bandwidths: each alone, no reconciliation.
    OptionScope scope;
    PsyParam* l = nullptr;
    PsyParam* s = nullptr;
    ASSERT_EQ(CreatePsyParam(&l, 1024, 576, 48000.0f, 64000, 1, 0, 1), nullptr);
    scope.Set("bw", "8000");
    ASSERT_EQ(CreatePsyParam(&s, 256, 576, 48000.0f, 64000, 1, 2, 1), nullptr);
    AdjustLowpass(48000.0f, l, s);
    EXPECT_EQ(s->mdctLowpass, 64);  // 8000 Hz is exactly short line 64, a border
    DeletePsyParam(l);
    DeletePsyParam(s);
}
