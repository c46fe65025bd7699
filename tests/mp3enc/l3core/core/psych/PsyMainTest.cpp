#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/BlockSwitch.h"
#include "mp3enc/l3core/core/psych/PsyMain.h"

using psytest::OptionScope;
using psytest::TakeMessage;

namespace {

// One granule's samples per channel of a signal given sample by sample.
using Signal = float (*)(int channel, long n);

struct Types {
    std::vector<int> types[2];
};

Types Drive(PsyMain* m, Signal signal, int granules, void (*inspect)(const PsyMain*, int) = nullptr) {
    Types run;
    std::vector<float> pcm(576 * 2);
    for (int g = 0; g < granules; ++g) {
        for (int c = 0; c < m->channels; ++c)
            for (int i = 0; i < 576; ++i) pcm[c * 576 + i] = signal(c, 576L * g + i);
        EXPECT_EQ(AdvancePsychoacousticModel(m, pcm.data()), 0);
        for (int c = 0; c < m->channels; ++c) run.types[c].push_back(m->blockType[c]);
        if (inspect) inspect(m, g);
    }
    return run;
}

PsyMain* Make(int channels, float hz, int bitRate, int ms = 1) {
    PsyMain* m = nullptr;
    EncError* e = CreatePsychoacousticModel(&m, channels, hz > 24000 ? 2 : 1, hz, bitRate, ms, 0);
    EXPECT_EQ(TakeMessage(e), "");
    return m;
}

constexpr long kClickAt = 576L * 10 + 300;

float ClickLeft(int channel, long n) { return channel == 0 && n == kClickAt ? 30000.0f : 0.0f; }

float Tone1k(int, long n) { return 8000.0f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * n / 44100.0)); }

float Silence(int, long) { return 0.0f; }

}  // namespace

TEST(PsyMain, CreationRefusesWhatItCannotModel) {
    OptionScope scope;
    PsyMain* m = reinterpret_cast<PsyMain*>(1);
    EXPECT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 3, 2, 44100, 128000, 1, 0)), "invalid procedure parameters");
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 0, 2, 44100, 128000, 1, 0)),
              "only mono and stereo case implemented");
    EXPECT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 2, 2, 44000, 128000, 1, 0)), "not a valid ISO sampling rate");
    EXPECT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 2, 2, NAN, 128000, 1, 0)), "not a valid ISO sampling rate");
    EXPECT_EQ(TakeMessage(CreatePsychoacousticModel(&m, 2, 2, 44100, 0, 1, 0)), "invalid procedure parameters");
    EXPECT_EQ(m, nullptr);
    // Intensity builds the mid/side energies it reads even without mid/side coding.
    EXPECT_EQ(CreatePsychoacousticModel(&m, 2, 2, 44100, 128000, 0, 1), nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->midSide, 0);
    EXPECT_EQ(m->intensity, 1);
    EXPECT_NE(m->ms, nullptr);
    EXPECT_NE(m->is, nullptr);
    DeletePsychoacousticModel(m);
    // Truncated to an ISO rate; a mono model ignores the stereo permissions.
    EXPECT_EQ(CreatePsychoacousticModel(&m, 1, 2, 44100.7f, 64000, 1, 1), nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->midSide, 0);
    EXPECT_EQ(m->intensity, 0);
    EXPECT_EQ(m->ms, nullptr);
    EXPECT_EQ(m->is, nullptr);
    DeletePsychoacousticModel(m);
    DeletePsychoacousticModel(nullptr);
}

TEST(PsyMain, SynchronisedTypesFollowTheTransitionOrder) {
    EXPECT_EQ(SyncBlockTypes(SyncBlockTypes(0, 1), 3), 2);
    EXPECT_EQ(SyncBlockTypes(SyncBlockTypes(0, 3), 1), 2);
    EXPECT_EQ(SyncBlockTypes(SyncBlockTypes(0, 0), 1), 1);
    EXPECT_EQ(SyncBlockTypes(SyncBlockTypes(0, 3), 0), 3);
    EXPECT_EQ(SyncBlockTypes(SyncBlockTypes(0, 2), 0), 2);
    for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b) EXPECT_EQ(SyncBlockTypes(a, b), SyncBlockTypes(b, a));
}

// A click in the left channel alone switches both channels through start,
// short and stop in the same granules (the right channel's own analysis
// proposed a long block); the granule that codes the click is short.
TEST(PsyMain, ClickInOneChannelSwitchesBoth) {
    OptionScope scope;
    struct Case {
        float hz;
        std::vector<int> switched;  // the types from the first start on
    };
    for (const Case& c : {Case{44100.0f, {1, 2, 2, 3, 0}}, Case{22050.0f, {1, 2, 3, 0}}}) {
        SCOPED_TRACE(c.hz);
        PsyMain* m = Make(2, c.hz, 128000);
        ASSERT_NE(m, nullptr);
        std::vector<int> types[2];
        std::vector<float> pcm(576 * 2), energy;
        std::vector<int> proposals;
        for (long g = 0; g < 20; ++g) {
            for (int i = 0; i < 576 * 2; ++i) pcm[i] = ClickLeft(i / 576, 576 * g + i % 576);
            AdvancePsychoacousticModel(m, pcm.data());
            proposals.push_back(m->analysis[1]->proposedType);
            float e = 0.0f;
            for (int k = 0; k < 576; ++k) e += m->transform[0]->spectrum[k] * m->transform[0]->spectrum[k];
            energy.push_back(e);
            for (int ch = 0; ch < 2; ++ch) types[ch].push_back(m->blockType[ch]);
        }
        EXPECT_EQ(types[0], types[1]);
        const std::vector<int>& t = types[0];
        size_t first = 0;
        while (first < t.size() && t[first] == 0) ++first;
        ASSERT_LT(first + c.switched.size(), t.size());
        EXPECT_EQ(std::vector<int>(t.begin() + first, t.begin() + first + c.switched.size()), c.switched);
        for (size_t g = first + c.switched.size(); g < t.size(); ++g) EXPECT_EQ(t[g], 0) << g;
        EXPECT_EQ(proposals[first], 0);  // the start came from the left channel alone
        const size_t loudest = std::max_element(energy.begin(), energy.end()) - energy.begin();
        EXPECT_EQ(t[loudest], 2) << loudest;
        DeletePsychoacousticModel(m);
    }
}

// With "mixed", the same click is coded with mixed start, short and stop types.
TEST(PsyMain, MixedOptionMapsTheSwitchedTypes) {
    OptionScope scope;
    scope.Set("mixed");
    PsyMain* m = Make(2, 44100, 128000);
    ASSERT_NE(m, nullptr);
    const Types run = Drive(m, ClickLeft, 20);
    std::vector<int> seen;
    for (int v : run.types[0])
        if (seen.empty() || seen.back() != v) seen.push_back(v);
    EXPECT_EQ(seen, (std::vector<int>{0, 4, 5, 6, 0}));
    DeletePsychoacousticModel(m);
}

// After its onset a steady tone stays on long blocks; its band needs a far smaller
// noise-to-energy ratio than the empty bands around it.
TEST(PsyMain, SteadyToneStaysLongWithLowRatioInItsBand) {
    OptionScope scope;
    PsyMain* m = Make(1, 44100, 64000);
    ASSERT_NE(m, nullptr);
    const Types run = Drive(m, Tone1k, 30, [](const PsyMain* model, int g) {
        if (g < 4) return;
        const AdaptParam* a = model->conf->adapt[0];
        // MDCT line of 1 kHz: 1000 / (22050 / 576).
        int band = 0;
        while (band + 1 < a->bandCount && a->start[band + 1] <= 26) ++band;
        const float* ratio = model->threshold[0]->bandRatio.longBand;
        EXPECT_LT(ratio[band], 0.05f) << g;
        const CodChan* cod = model->coding[0];
        EXPECT_LT(cod->distLong[band], 0.05f * cod->energyLong[band]) << g;
        for (int b = 0; b < a->bandCount; ++b) EXPECT_LE(ratio[band], ratio[b]) << g << " band " << b;
    });
    for (size_t g = 6; g < run.types[0].size(); ++g) EXPECT_EQ(run.types[0][g], 0) << g;
    DeletePsychoacousticModel(m);
}

// In silence every partition's threshold is its threshold in quiet, every band
// is empty with allowed distortion 1 and the spectrum is exactly zero.
TEST(PsyMain, SilenceGivesTheQuietThreshold) {
    OptionScope scope;
    PsyMain* m = Make(2, 48000, 128000);
    ASSERT_NE(m, nullptr);
    const Types run = Drive(m, Silence, 6);
    for (int c = 0; c < 2; ++c) {
        for (int v : run.types[c]) EXPECT_EQ(v, 0);
        const CbParam* cb = m->conf->cb[0];
        for (int p = 0; p < cb->count; ++p) EXPECT_FLOAT_EQ(m->threshold[c]->thrLong[p], cb->quiet[p]) << p;
        for (int b = 0; b < m->conf->adapt[0]->bandCount; ++b) {
            EXPECT_EQ(m->coding[c]->energyLong[b], 0.0f);
            EXPECT_EQ(m->coding[c]->distLong[b], 1.0f);
        }
        for (int k = 0; k < 576; ++k) EXPECT_EQ(m->transform[c]->spectrum[k], 0.0f);
    }
    DeletePsychoacousticModel(m);
}

TEST(PsyMain, GranuleIndexCountsWithinTheFrame) {
    OptionScope scope;
    PsyMain* two = Make(1, 32000, 64000);
    PsyMain* one = Make(1, 16000, 32000);
    ASSERT_TRUE(two && one);
    std::vector<float> pcm(576, 0.0f);
    for (int g = 0; g < 5; ++g) {
        AdvancePsychoacousticModel(two, pcm.data());
        AdvancePsychoacousticModel(one, pcm.data());
        EXPECT_EQ(two->granule, g % 2);
        EXPECT_EQ(one->granule, 0);
    }
    DeletePsychoacousticModel(two);
    DeletePsychoacousticModel(one);
}
