#include <gtest/gtest.h>

#include "mp3enc/l3core/core/psych/CodParam.h"

namespace {
float Bandwidth(int kind, int rate, float hz, int stereo) {
    CodParam* p = CodParamCreate(kind, rate, hz, stereo);
    if (!p) return -1.0f;
    const float bw = p->values[0];
    CodParamFree(p);
    return bw;
}
}  // namespace

TEST(CodParam, BandwidthFollowsTheRowAndInterpolatesTowardsTheNext) {
    EXPECT_FLOAT_EQ(Bandwidth(0, 64000, 44100.0f, 1), 15500.0f);
    EXPECT_NEAR(Bandwidth(0, 96000, 44100.0f, 1), 20000.0f + 16000.0f * 4000.0f / 176000.0f, 0.01f);
    EXPECT_FLOAT_EQ(Bandwidth(0, 300000, 44100.0f, 1), 22050.0f);  // 24000 Hz limited to Nyquist
    EXPECT_FLOAT_EQ(Bandwidth(2, 64000, 48000.0f, 0), 13000.0f);   // mono column
    EXPECT_NEAR(Bandwidth(0, 20000, 16000.0f, 1), 5300.0f + 4000.0f * 2200.0f / 8000.0f, 0.01f);
    EXPECT_FLOAT_EQ(Bandwidth(0, 8000, 8000.0f, 0), 3000.0f);
    EXPECT_FLOAT_EQ(Bandwidth(0, 12000, 32000.0f, 1), -1.0f);  // no row
    EXPECT_FLOAT_EQ(Bandwidth(0, 64000, 44000.0f, 1), -1.0f);
    EXPECT_FLOAT_EQ(Bandwidth(0, 320001, 44100.0f, 1), -1.0f);
    EXPECT_FLOAT_EQ(Bandwidth(5, 64000, 44100.0f, 1), -1.0f);

    CodParam* l = CodParamCreate(1, 64000, 44100.0f, 0);
    CodParam* s = CodParamCreate(2, 64000, 44100.0f, 0);
    ASSERT_TRUE(l && s);
    EXPECT_FLOAT_EQ(l->values[3], 0.25f);
    EXPECT_FLOAT_EQ(l->values[9], -0.1f);
    EXPECT_FLOAT_EQ(s->values[10], 1.3f);
    EXPECT_FLOAT_EQ(s->values[12], 0.0f);
    CodParamFree(l);
    CodParamFree(s);
}
