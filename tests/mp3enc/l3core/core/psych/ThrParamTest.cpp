#include <gtest/gtest.h>

#include "mp3enc/l3core/core/psych/ThrParam.h"

TEST(ThrParam, ClassesAndTheGivenValuesOfTheirEnds) {
    EXPECT_EQ(ThrParamClass(8000), 0);
    EXPECT_EQ(ThrParamClass(44200), 4);  // 36001-44400 comes first
    EXPECT_EQ(ThrParamClass(44401), 5);
    EXPECT_EQ(ThrParamClass(320000), 9);
    EXPECT_EQ(ThrParamClass(7999), -1);
    EXPECT_EQ(ThrParamClass(320001), -1);
    EXPECT_EQ(ThrParamCreate(0, 7999, 0), nullptr);
    EXPECT_EQ(ThrParamCreate(7, 64000, 0), nullptr);

    ThrParam* lf = ThrParamCreate(0, 8000, 0);
    ThrParam* sf = ThrParamCreate(2, 8000, 0);
    ThrParam* ll = ThrParamCreate(3, 320000, 0);
    ASSERT_TRUE(lf && sf && ll);
    EXPECT_FLOAT_EQ(lf->defaultChaos, 1.0f);
    EXPECT_FLOAT_EQ(lf->nmtDb, 4.0f);
    EXPECT_FLOAT_EQ(sf->nmtDb, 5.0f);
    EXPECT_FLOAT_EQ(sf->preEchoMin, 0.05f);
    EXPECT_FLOAT_EQ(lf->preEchoBack2, 32.0f);
    EXPECT_FLOAT_EQ(sf->preEchoBack2, 1e7f);
    EXPECT_FLOAT_EQ(ll->defaultChaos, 0.4f);
    EXPECT_FLOAT_EQ(ll->nmtDb, 18.0f);
    EXPECT_FLOAT_EQ(ll->preEchoBack2, 8.0f);
    EXPECT_FLOAT_EQ(ll->bmax[0], 24.0f);
    EXPECT_FLOAT_EQ(ll->bmax[9], 3.0f);
    EXPECT_FLOAT_EQ(ll->bmax[10], 0.0f);
    for (const ThrParam* p : {lf, sf, ll}) {
        EXPECT_EQ(p->chaosMethod, 3);
        EXPECT_FLOAT_EQ(p->bmax[3] * (p == ll ? 1.0f : 0.0f), p == ll ? 20.0f : 0.0f);
    }
    ThrParamFree(lf);
    ThrParamFree(sf);
    ThrParamFree(ll);
    ThrParamFree(nullptr);
}

// Classes between the ends move monotonically from one to the other, and the
// stereo flag raises only the lowest six Barks' bmax.
TEST(ThrParam, InnerClassesLieBetweenTheEndsAndStereoRaisesBmax) {
    float lastNmt = 0.0f, lastChaos = 2.0f;
    for (const int rate : {10000, 16000, 24000, 32000, 40000, 48000, 64000, 80000, 112000, 200000}) {
        ThrParam* p = ThrParamCreate(0, rate, 0);
        ASSERT_NE(p, nullptr);
        EXPECT_GE(p->nmtDb, lastNmt) << rate;
        EXPECT_LE(p->defaultChaos, lastChaos) << rate;
        lastNmt = p->nmtDb;
        lastChaos = p->defaultChaos;
        EXPECT_EQ(p->bandLimit, -1);
        ThrParamFree(p);
    }
    ThrParam* mono = ThrParamCreate(0, 8000, 0);
    ThrParam* stereo = ThrParamCreate(0, 8000, 1);
    ThrParam* high = ThrParamCreate(0, 300000, 1);
    ASSERT_TRUE(mono && stereo && high);
    const float raised[7] = {15, 15, 12, 12, 9, 6, 0};
    for (int k = 0; k < 7; ++k) EXPECT_FLOAT_EQ(stereo->bmax[k], raised[k]) << k;
    EXPECT_FLOAT_EQ(mono->bmax[0], 0.0f);
    EXPECT_FLOAT_EQ(high->bmax[0], 24.0f);  // already above the stereo floor
    EXPECT_FLOAT_EQ(high->bmax[5], 18.0f);
    ThrParamFree(mono);
    ThrParamFree(stereo);
    ThrParamFree(high);
}
