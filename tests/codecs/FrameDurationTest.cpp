#include <gtest/gtest.h>

#include "codecs/FrameDuration.h"

namespace {
AudioFormat Format(int coding, int rate, int frameBytes = 0) {
    AudioFormat f;
    f.codingType = coding;
    f.sampleRate = rate;
    f.frameBytes = frameBytes;
    return f;
}
}  // namespace

TEST(FrameDurationTest, EachCodingTypeFollowsItsRule) {
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_MPEG_L2, 48000)), 24u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_MPEG_L2, 32000)), 36u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_MPEG_L3, 44100)), 26u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_MPEG_L1, 48000)), 24u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_PCM, 48000, 2304)), 24u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_APTX, 15754, 384)), 97u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_APTX_ENH, 31508, 384)), 48u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_G711_ALAW, 8000)), 24u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_G711_ULAW, 0)), 24u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_G722, 16000)), 24u);
    EXPECT_EQ(GetFrameDurationMs(Format(0, 48000)), 0u);
    EXPECT_EQ(GetFrameDurationMs(Format(128, 48000)), 0u);
}

TEST(FrameDurationTest, ZeroNegativeAndHugeValuesNeverFault) {
    for (int coding :
         {CODING_PCM, CODING_MPEG_L1, CODING_MPEG_L2, CODING_MPEG_L3, CODING_APTX, CODING_APTX_ENH}) {
        EXPECT_EQ(GetFrameDurationMs(Format(coding, 0, 384)), 0u) << coding;
        EXPECT_EQ(GetFrameDurationMs(Format(coding, -1, 384)), 0u) << coding;
    }
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_PCM, 48000, -4)), 0u);
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_APTX, 15754, -384)), 0u);
    // 2^31 - 1 frame bytes: the product needs more than 32 bits.
    EXPECT_EQ(GetFrameDurationMs(Format(CODING_APTX, 32000, 2147483647)), 268435455u);
}
