#include <gtest/gtest.h>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/PsyConf.h"

using psytest::OptionScope;
using psytest::TakeMessage;

TEST(PsyConf, BuildsForEveryRateAndMapsShortPartitionsOntoLongOnes) {
    for (const float fs : {8000.f, 11025.f, 12000.f, 16000.f, 22050.f, 24000.f, 32000.f, 44100.f, 48000.f}) {
        for (const int stereo : {0, 1}) {
            for (const int rate : {16000, 24000, 32000, 64000, 128000, 160000}) {
                PsyConf* c = nullptr;
                EncError* e = CreatePsyConf(&c, fs, rate, stereo);
                if (fs >= 32000.f && rate < 16000) {
                    EXPECT_NE(e, nullptr);
                    ErrorFree(e);
                    continue;
                }
                ASSERT_EQ(e, nullptr) << fs << " " << rate << " " << TakeMessage(e);
                EXPECT_EQ(c->rateClass, fs > 24000 ? 0 : fs > 12000 ? 1 : 2);
                EXPECT_EQ(c->complexMdct, 1);
                EXPECT_EQ(GetPsyBlockParam(c)[0]->halfFft, 512);
                EXPECT_EQ(GetPsyBlockParam(c)[1]->halfFft, 128);
                EXPECT_EQ(GetCbParam(c, 3), GetCbBlockParam(c)[0]);
                EXPECT_EQ(GetCbParam(c, 2), GetCbBlockParam(c)[1]);
                EXPECT_EQ(GetCbParam(c, 5), nullptr);
                EXPECT_EQ(GetAdaptBlockParam(c)[1]->mdctLines, 192);
                const CbParam* l = c->cb[0];
                const CbParam* s = c->cb[1];
                for (int j = 0; j < s->count; ++j) {
                    const int i = c->shortToLong[j];
                    ASSERT_GE(i, 0);
                    ASSERT_LT(i, l->count);
                    if (i < l->count - 1) { EXPECT_GE(l->start[i], 3 * s->start[j]); }
                    if (i > 0) { EXPECT_LT(l->start[i - 1], 3 * s->start[j]); }
                }
                DeletePsyConf(c);
            }
        }
    }
    DeletePsyConf(nullptr);
    EXPECT_EQ(GetPsyBlockParam(nullptr), nullptr);
}

TEST(PsyConf, SwitchesChangeThePartitionsAndFailuresLeaveNothing) {
    OptionScope scope;
    scope.Set("noCmdct");
    scope.Set("nobmax");
    PsyConf* c = nullptr;
    ASSERT_EQ(CreatePsyConf(&c, 44100.f, 64000, 1), nullptr);
    EXPECT_EQ(c->complexMdct, 0);
    for (int i = 0; i < c->cb[0]->count; ++i) EXPECT_EQ(c->cb[0]->bmax[i], 0.0f);
    DeletePsyConf(c);
    c = reinterpret_cast<PsyConf*>(&c);
    EXPECT_NE(TakeMessage(CreatePsyConf(&c, 32000.f, 12000, 1)).find("codParam"), std::string::npos);
    EXPECT_EQ(c, nullptr);
}
