#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/MsChan.h"
#include "mp3enc/l3core/core/psych/PsyChan.h"
#include "mp3enc/l3core/core/psych/ThrChan.h"
#include "mp3enc/l3core/core/psych/TraChan.h"

using psytest::OptionScope;

namespace {

// Two channels of the model up to their thresholds, and the mid/side module.
struct Stereo {
    PsyConf* conf = nullptr;
    PsyChan* psy[2] = {};
    TraChan* tra[2] = {};
    ThrChan* thr[2] = {};
    MsChan* ms = nullptr;
    int granule = 0;
    explicit Stereo(float fs = 44100.0f, int rate = 64000) {
        EXPECT_EQ(CreatePsyConf(&conf, fs, rate, 1), nullptr);
        for (int c = 0; c < 2 && conf; ++c) {
            EXPECT_EQ(CreatePsyChannel(&psy[c], conf), nullptr);
            EXPECT_EQ(CreateThresholdChannel(&thr[c], conf), nullptr);
            EXPECT_EQ(CreateTransformChannel(&tra[c], conf), nullptr);
        }
        if (conf) {
            EXPECT_EQ(CreateMsChannel(&ms, conf), nullptr);
        }
    }
    ~Stereo() {
        DeleteMsChannel(ms);
        for (int c = 0; c < 2; ++c) {
            DeletePsyChannel(psy[c]);
            DeleteThresholdChannel(thr[c]);
            DeleteTransformChannel(tra[c]);
        }
        DeletePsyConf(conf);
    }
    // Analysis and thresholds of one granule, before the stereo decision.
    void Analyse(const std::vector<float>& left, const std::vector<float>& right, int type) {
        const std::vector<float>* in[2] = {&left, &right};
        for (int c = 0; c < 2; ++c) {
            AdvancePsyChannel(psy[c], in[c]->data());
            AdvanceTransformChannel(tra[c], psy[c]->subbands, type);
            AdvanceThresholdChannel(thr[c], psy[c], type);
        }
    }
    void Decide(int granuleIndex, int type) { DecideMsStereo(ms, granuleIndex, psy, thr, tra, type); }
};

std::vector<float> Tone(double hz, double amplitude, int granule, double fs = 44100) {
    std::vector<float> pcm(576);
    for (int i = 0; i < 576; ++i) pcm[i] = float(amplitude * std::sin(2 * M_PI * hz * (576.0 * granule + i) / fs));
    return pcm;
}

std::vector<float> Sum(const std::vector<float>& a, const std::vector<float>& b) {
    std::vector<float> s(a.size());
    for (size_t i = 0; i < a.size(); ++i) s[i] = a[i] + b[i];
    return s;
}

}  // namespace

TEST(MsChan, EqualChannelsGoMidSideAndLeaveNoSide) {
    Stereo st;
    ASSERT_TRUE(st.ms);
    for (int g = 0; g < 5; ++g) {
        const auto x = Tone(440, 8000, g);
        st.Analyse(x, x, 0);
        st.Decide(g % 2, 0);
    }
    EXPECT_EQ(st.ms->frameMs, 1);
    EXPECT_EQ(st.ms->peSide, 0.0f);
    std::vector<float> left(st.tra[0]->spectrum, st.tra[0]->spectrum + 576);
    ApplyMsStereo(st.ms, st.tra, st.thr);
    EXPECT_EQ(st.tra[0]->midSide, 1);
    EXPECT_EQ(st.tra[1]->midSide, 1);
    for (int k = 0; k < 576; ++k) {
        EXPECT_NEAR(st.tra[0]->spectrum[k], left[k] * std::sqrt(2.0), 1e-3 * std::fabs(left[k]) + 1e-6);
        EXPECT_EQ(st.tra[1]->spectrum[k], 0.0f);
    }
    for (int b = 0; b < st.ms->longBands; ++b) {
        EXPECT_EQ(st.thr[0]->bandThr.longBand[b], st.ms->midThr.longBand[b]);
        EXPECT_EQ(st.thr[1]->bandRatio.longBand[b], st.ms->sideRatio.longBand[b]);
    }
}

TEST(MsChan, UnrelatedChannelsStayLeftRight) {
    Stereo st;
    ASSERT_TRUE(st.ms);
    for (int g = 0; g < 5; ++g) {
        st.Analyse(Tone(1000, 8000, g), Tone(5000, 8000, g), 0);
        st.Decide(g % 2, 0);
    }
    EXPECT_EQ(st.ms->frameMs, 0);
    const std::vector<float> left(st.tra[0]->spectrum, st.tra[0]->spectrum + 576);
    ApplyMsStereo(st.ms, st.tra, st.thr);
    EXPECT_EQ(st.tra[0]->midSide, 0);
    EXPECT_EQ(std::vector<float>(st.tra[0]->spectrum, st.tra[0]->spectrum + 576), left);
}

// The rule compares PE(mid) + PE(side) with (PE(left) + PE(right)) x g; the
// test sets the channels' entropies to steer it across the hysteresis.
TEST(MsChan, TheFrameFollowsGranuleZeroAndTheGranuleSetsTheHysteresis) {
    Stereo st;
    ASSERT_TRUE(st.ms);
    for (int g = 0; g < 4; ++g) {
        const auto x = Tone(700, 6000, g);
        st.Analyse(x, Sum(x, Tone(3000, 500, g)), 0);
    }
    st.Decide(0, 0);
    const float s = st.ms->peMid + st.ms->peSide;
    ASSERT_GT(s, 0.0f);
    auto decide = [&](int granule, float sum) {
        st.thr[0]->pe[0] = st.thr[1]->pe[0] = sum / 2;
        st.Decide(granule, 0);
    };
    st.ms->granuleMs = 0;
    decide(0, s / 1.45f);  // 1.4: left/right
    EXPECT_EQ(st.ms->granuleMs, 0);
    EXPECT_EQ(st.ms->frameMs, 0);
    decide(1, s);  // mid/side, but the frame stays
    EXPECT_EQ(st.ms->granuleMs, 1);
    EXPECT_EQ(st.ms->frameMs, 0);
    decide(0, s / 1.5f);  // 1.6 after a mid/side granule
    EXPECT_EQ(st.ms->frameMs, 1);
    decide(0, s / 1.5f);
    EXPECT_EQ(st.ms->frameMs, 1);
    decide(0, s / 1.45f);  // still above s with 1.6
    EXPECT_EQ(st.ms->frameMs, 1);
    decide(0, s / 1.65f);
    EXPECT_EQ(st.ms->frameMs, 0);
    decide(0, s / 1.5f);  // back to 1.4
    EXPECT_EQ(st.ms->frameMs, 0);
}

TEST(MsChan, StarvingClearsWeakSideLinesInTheUpperLongBandsOnly) {
    for (const int type : {0, 2}) {
        OptionScope scope;
        scope.Set("starving");
        Stereo st;
        ASSERT_TRUE(st.ms);
        EXPECT_EQ(st.ms->starving, 1);
        // A common noise and a weaker independent difference.
        unsigned seed = 21;
        auto noise = [&seed] { return float(int((seed = seed * 1103515245u + 12345u) >> 16 & 0x3FFF) - 8192); };
        std::vector<float> l(576), r(576);
        for (int g = 0; g < 5; ++g) {
            for (int i = 0; i < 576; ++i) {
                const float common = noise(), difference = 0.6f * noise();
                l[i] = common + difference;
                r[i] = common - difference;
            }
            st.Analyse(l, r, type);
            st.Decide(g % 2, type);
        }
        ASSERT_EQ(st.ms->frameMs, 1) << type;
        std::vector<float> before(576);
        for (int k = 0; k < 576; ++k)
            before[k] = (st.tra[0]->spectrum[k] - st.tra[1]->spectrum[k]) * 0.70710677f;
        ApplyMsStereo(st.ms, st.tra, st.thr);
        if (type == 2) {
            EXPECT_EQ(st.ms->starved, 0);
            continue;
        }
        EXPECT_GT(st.ms->starved, 0);
        const int first = st.conf->adapt[0]->start[8];
        int zeroed = 0;
        for (int k = 0; k < 576; ++k) {
            if (k < first) {
                EXPECT_EQ(st.tra[1]->spectrum[k], before[k]) << k;
            }
            zeroed += st.tra[1]->spectrum[k] == 0.0f && before[k] != 0.0f;
        }
        EXPECT_EQ(zeroed, st.ms->starved);
    }
}
