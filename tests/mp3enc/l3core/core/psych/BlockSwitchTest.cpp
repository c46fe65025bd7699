#include <gtest/gtest.h>

#include <vector>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/psych/BlockSwitch.h"
#include "mp3enc/l3core/core/psych/PsyChan.h"

using psytest::OptionScope;
using psytest::TakeMessage;

namespace {

// Block types the analysis channel proposes, granule by granule, for a signal
// of silence with single-sample clicks at the given sample positions.
std::vector<int> Types(float fs, int granules, const std::vector<int>& clicks) {
    PsyConf* conf = nullptr;
    EXPECT_EQ(CreatePsyConf(&conf, fs, 64000, 0), nullptr);
    PsyChan* chan = nullptr;
    EXPECT_EQ(CreatePsyChannel(&chan, conf), nullptr);
    std::vector<int> types;
    if (chan) {
        std::vector<float> pcm(576);
        for (int g = 0; g < granules; ++g) {
            for (int i = 0; i < 576; ++i) pcm[i] = 0;
            for (int c : clicks)
                if (c >= 576 * g && c < 576 * (g + 1)) pcm[c - 576 * g] = 30000.0f;
            AdvancePsyChannel(chan, pcm.data());
            types.push_back(chan->proposedType);
        }
    }
    DeletePsyChannel(chan);
    DeletePsyConf(conf);
    return types;
}

// The sample that the short window of sub-block j sees at offset p, in the
// granule analysed as number n (its newest sample is 576 (n + 1) - 1).
int InSubBlock(int n, int j, int p) { return 576 * (n + 1) - (880 - 192 * j) + p; }

}  // namespace

TEST(BlockSwitch, SilenceStaysLong) {
    for (const float fs : {8000.0f, 22050.0f, 44100.0f})
        for (int t : Types(fs, 12, {})) EXPECT_EQ(t, 0) << fs;
}

TEST(BlockSwitch, AClickGoesThroughStartShortAndStop) {
    // Sub-block 1 of granule 5 only: its window starts 192 after sub-block 0's.
    const std::vector<int> t = Types(44100.0f, 12, {InSubBlock(5, 1, 88)});
    const std::vector<int> expect = {0, 0, 0, 0, 0, 1, 2, 2, 3, 0, 0, 0};
    EXPECT_EQ(t, expect);
}

TEST(BlockSwitch, AnAttackInTheLastSubBlockCountsByRate) {
    // Sub-block 2 of granule 5, out of the reach of sub-block 1 and of the
    // next granule's sub-block 0.
    const int click = InSubBlock(5, 2, 126);
    const std::vector<int> low = Types(22050.0f, 9, {click});
    EXPECT_EQ(low[5], 0) << "carried to the next granule";
    EXPECT_EQ(low[6], 1);
    EXPECT_EQ(low[7], 2);
    const std::vector<int> high = Types(44100.0f, 9, {click});
    EXPECT_EQ(high[5], 1) << "counted at once";
    EXPECT_EQ(high[6], 2) << "and again in the next granule";
}

TEST(BlockSwitch, ModeOptionForcesTheBlockType) {
    for (const auto& [mode, type] : {std::pair{"1", 0}, std::pair{"2", 2}}) {
        OptionScope scope;
        scope.Set("blm", mode);
        for (int t : Types(44100.0f, 8, {InSubBlock(3, 1, 88)})) EXPECT_EQ(t, type) << mode;
    }
    OptionScope scope;
    scope.Set("blm", "3");
    PsyConf* conf = nullptr;
    ASSERT_EQ(CreatePsyConf(&conf, 48000.0f, 64000, 0), nullptr);
    BlockSwitch* sw = reinterpret_cast<BlockSwitch*>(&conf);
    EXPECT_NE(TakeMessage(CreateBlockSwitch(&sw, conf)).find("blm"), std::string::npos);
    EXPECT_EQ(sw, nullptr);
    EXPECT_EQ(TakeMessage(CreateBlockSwitch(&sw, nullptr)), "GetCbParam() failed");
    DeletePsyConf(conf);
    DeleteBlockSwitch(nullptr);
}

TEST(BlockSwitch, RateSetsTheAttackRules) {
    for (const auto& [fs, base, last] : {std::tuple{48000.0f, 160, 1}, std::tuple{22050.0f, 200, 0},
                                         std::tuple{16000.0f, 250, 0}, std::tuple{8000.0f, 250, 0}}) {
        PsyConf* conf = nullptr;
        ASSERT_EQ(CreatePsyConf(&conf, fs, 32000, 0), nullptr);
        BlockSwitch* sw = nullptr;
        ASSERT_EQ(CreateBlockSwitch(&sw, conf), nullptr);
        EXPECT_EQ(sw->attackBase, base) << fs;
        EXPECT_EQ(sw->countLastSubblock, last) << fs;
        EXPECT_EQ(sw->carryMiddleAttack, last) << fs;
        EXPECT_EQ(sw->history->fill, 4);
        for (int i = 0; i < sw->bands->count; ++i) EXPECT_EQ(FloatFifoEntry(sw->history, 3)[i], sw->floorDb[i]);
        DeleteBlockSwitch(sw);
        DeletePsyConf(conf);
    }
}
