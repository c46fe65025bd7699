#include <gtest/gtest.h>

#include <cmath>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/CbParam.h"

using psytest::OptionScope;
using psytest::TakeMessage;

namespace {

struct Table {
    PsyParam* set = nullptr;
    CbParam* cb = nullptr;
    Table(float fs, int rate, int kind, int complexMdct, int noBmax = 0) {
        EXPECT_EQ(CreatePsyParam(&set, kind == 2 ? 256 : 1024, 576, fs, rate, 1, kind, complexMdct), nullptr);
        if (set) { EXPECT_EQ(CreateCbParam(&cb, set, complexMdct, noBmax), nullptr); }
    }
    ~Table() {
        DeleteCbParam(cb);
        DeletePsyParam(set);
    }
};

// The spreading function written out from its definition.
double Spread(double d, double low, double high, bool noHole) {
    const double x = d < 0 ? d * low : d * high;
    double h = 0;
    if (!noHole && x >= 0.5 && x <= 2.5) h = 8 * ((x - 0.5) * (x - 0.5) - 2 * (x - 0.5));
    const double y = 15.811 + 7.5 * (x + 0.474) - 17.5 * std::sqrt(1 + (x + 0.474) * (x + 0.474));
    return y <= -100 ? 0 : std::pow(10.0, (h + y) / 10);
}

}  // namespace

TEST(CbParam, PartitionsTileTheSpectrumInThirdsOfABark) {
    for (const float fs : {8000.0f, 12000.0f, 22050.0f, 32000.0f, 44100.0f, 48000.0f}) {
        for (const int kind : {0, 2}) {
            for (const int complexMdct : {0, 1}) {
                Table t(fs, 64000, kind, complexMdct);
                ASSERT_TRUE(t.cb);
                const CbParam& c = *t.cb;
                const double m = 0.5 * fs / t.set->halfFft;
                ASSERT_GT(c.count, 0);
                ASSERT_LE(c.count, kMaxCb);
                int line = 0;
                for (int i = 0; i < c.count; ++i) {
                    ASSERT_EQ(c.start[i], line) << fs << " " << kind << " " << complexMdct << " partition " << i;
                    ASSERT_GT(c.width[i], 0);
                    line += c.width[i];
                    const double zw = BarkOf(float((line - 1) * m)) - BarkOf(float(c.start[i] * m));
                    // Up to its last line a plain partition spans at most a third of a Bark.
                    if (!complexMdct && i + 1 < c.count) { EXPECT_LE(zw, 1.0 / 3 + 1e-4); }
                    EXPECT_LE(c.bark[i], 24.0f);
                    if (i > 0) { EXPECT_GE(c.bark[i], c.bark[i - 1]); }
                }
                EXPECT_EQ(c.lineCount, line);
                EXPECT_EQ(c.start[c.count], t.set->halfFft);
                if (complexMdct) { EXPECT_EQ(line, t.set->halfFft); }
                EXPECT_LE(c.toneLines, t.set->toneLimit);
                EXPECT_LE(c.combLines, t.set->combLimit);
                int toneLines = 0;
                for (int i = 0; i < c.toneCount; ++i) toneLines += c.width[i];
                EXPECT_EQ(toneLines, c.toneLines);
            }
        }
    }
}

TEST(CbParam, LowResolutionPartitionsAreTheOneLineOnesAtTheBottom) {
    Table t(48000.0f, 64000, 0, 0);
    ASSERT_TRUE(t.cb);
    const CbParam& c = *t.cb;
    EXPECT_EQ(c.width[0], 1);
    EXPECT_EQ(c.width[1], 1);
    int expected = 1;
    while (expected < c.count && c.bark[expected] - c.bark[expected - 1] > 0.333f) ++expected;
    EXPECT_EQ(c.lowResCount, expected);
    EXPECT_GT(c.lowResCount, 3);
}

TEST(CbParam, PerPartitionValuesComeFromTheBarkOfThePartition) {
    Table t(44100.0f, 64000, 0, 1);
    Table nob(44100.0f, 64000, 0, 1, 1);
    ASSERT_TRUE(t.cb && nob.cb);
    const ThrParam& thr = *t.set->thr;
    for (int i = 0; i < t.cb->count; ++i) {
        const int k = int(t.cb->bark[i]);
        EXPECT_FLOAT_EQ(t.cb->bmax[i], thr.bmax[k]);
        EXPECT_EQ(nob.cb->bmax[i], 0.0f);
        EXPECT_FLOAT_EQ(t.cb->preEcho[i], thr.preEchoRatio[k]);
        EXPECT_NEAR(t.cb->quiet[i] / (std::pow(10.0, (thr.quietDb[k] - thr.quietOffsetDb) / 10) * 16887.8 * t.cb->width[i]),
                    1.0, 1e-4);
        double tmn = t.cb->bark[i] * thr.tmnSlopeDb + thr.tmnOffsetDb;
        tmn = thr.tmnSlopeDb <= 0 ? std::min<double>(tmn, thr.tmnDb) : std::max<double>(tmn, thr.tmnDb);
        EXPECT_NEAR(t.cb->tmn[i], tmn, 1e-4);
        EXPECT_FLOAT_EQ(t.cb->factor[i], 0.01f * thr.factor[k]);
    }
}

TEST(CbParam, SpreadingRowsKeepTheAudibleRunAndNormaliseOverAllColumns) {
    for (const bool noHole : {false, true}) {
        OptionScope scope;
        if (noHole) scope.Set("maskNoHole");
        Table t(32000.0f, 96000, 0, 0);
        ASSERT_TRUE(t.cb);
        const CbParam& c = *t.cb;
        const ThrParam& thr = *t.set->thr;
        EXPECT_NEAR(SpreadingValue(0.0f, &thr), 1.0, 0.01) << "0 dB at the masker";
        for (int r = 0; r < c.count; ++r) {
            double sum = 0;
            for (int col = 0; col < c.count; ++col) {
                const double v = Spread(c.bark[r] - c.bark[col], thr.maskLow, thr.maskHigh, thr.noHole);
                sum += v;
                const float* row = c.spread + r * kSpreadStride;
                const int k = col - c.spreadStart[r];
                if (k >= 0 && k < c.spreadLength[r]) {
                    EXPECT_NEAR(row[k], v, 1e-4 * v + 1e-9);
                    EXPECT_GE(row[k], 1e-5f);
                } else if (col < c.spreadStart[r]) {
                    EXPECT_LE(v, 1e-5);
                }
            }
            EXPECT_NEAR(c.norm[r] * sum, 1.0, 1e-3);
            EXPECT_GE(c.spreadLength[r], 1);
        }
    }
}

TEST(CbParam, RefusesABandwidthThatLeavesTooFewLines) {
    OptionScope scope;
    scope.Set("bw", "20");
    PsyParam* p = nullptr;
    ASSERT_EQ(CreatePsyParam(&p, 1024, 576, 48000.0f, 64000, 1, 0, 1), nullptr);
    CbParam* c = reinterpret_cast<CbParam*>(&p);
    const std::string m = TakeMessage(CreateCbParam(&c, p, 1, 0));
    EXPECT_NE(m.find("invalid function parameters"), std::string::npos) << m;
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(TakeMessage(CreateCbParam(&c, nullptr, 1, 0)), "invalid function parameters");
    DeletePsyParam(p);
}
