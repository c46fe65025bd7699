#include "mp3enc/engine/L3Analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace l3;

namespace {
// Stages granule after granule of a tone, the right channel `right` times the
// left, and hands each analysis result to `check` with its granule index.
template <typename Check>
void Feed(CL3Analysis& analysis, int rate, int granulesPerFrame, float right, int granules, Check check) {
    auto result = std::make_unique<AnalysisResult>();
    std::vector<float> frames(2 * 576);
    long n = 0;
    for (int g = 0; g < granules; ++g) {
        for (int i = 0; i < 576; ++i, ++n) {
            const float v = 10000.0f * static_cast<float>(std::sin(2.0 * M_PI * 3000.0 * n / rate));
            frames[2 * i] = v;
            frames[2 * i + 1] = right * v;
        }
        analysis.Stage(frames.data());
        analysis.Analyse(g % granulesPerFrame, result.get());
        check(g % granulesPerFrame, *result);
    }
}
}  // namespace

TEST(L3Analysis, IntensityPositionsStepOnceASearchAndTakeBandsFromTheBoundUp) {
    CL3Analysis analysis;
    ASSERT_EQ(analysis.Create(48000, 64000, 2, 12000.0f, false), 0);
    const int band = 12;  // 3 kHz at 48 kHz: lines 72 to 87
    int last = 3, searches = 0;
    auto final = std::make_unique<AnalysisResult>();
    Feed(analysis, 48000, 2, 0.0f, 24, [&](int gi, const AnalysisResult& r) {
        // Granule 0 always searches; granule 1 only in a frame that uses
        // intensity. The tone's onset brings short blocks, searched apart.
        if (r.ch[0].blockType != kShort && (gi == 0 || r.intensity)) {
            EXPECT_LE(std::abs(r.intensityPos[band] - last), 1) << "search " << searches;
            last = r.intensityPos[band];
            ++searches;
        }
        *final = r;
    });
    EXPECT_EQ(last, 6) << "a left-only band goes wholly left";
    ASSERT_TRUE(final->intensity);
    const int bound = final->intensityBound[0];
    EXPECT_GE(bound, 7);
    EXPECT_LE(bound, band);
    for (int i = final->ch[1].recordStart[bound]; i < kLines; ++i) ASSERT_EQ(final->ch[1].xr[i], 0.0f);
}

TEST(L3Analysis, IntensityNeverWhenSwitchedOffOrAbove96kbitPerSecond) {
    for (const auto& [bitRate, off] : {std::pair{64000, true}, std::pair{112000, false}}) {
        CL3Analysis analysis;
        ASSERT_EQ(analysis.Create(48000, bitRate, 2, 12000.0f, off), 0);
        Feed(analysis, 48000, 2, 0.0f, 12, [](int, const AnalysisResult& r) { EXPECT_FALSE(r.intensity); });
    }
}

TEST(L3Analysis, Mpeg2IntensityFindsTheSixDecibelPosition) {
    CL3Analysis analysis;
    ASSERT_EQ(analysis.Create(24000, 32000, 2, 8000.0f, false), 0);
    const int band = 13;  // 3 kHz at 24 kHz: line 144, in band 13 (136 to 162)
    auto final = std::make_unique<AnalysisResult>();
    Feed(analysis, 24000, 1, 0.5f, 10, [&](int, const AnalysisResult& r) { *final = r; });
    ASSERT_TRUE(final->intensity);
    EXPECT_LE(final->intensityBound[0], band);
    EXPECT_EQ(final->intensityPos[band], 4) << "even position 2m leans left by 2^(m/2)";
}
