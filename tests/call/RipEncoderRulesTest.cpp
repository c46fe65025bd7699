#include "call/RipEncoderRules.h"

#include <gtest/gtest.h>

namespace {
AudioFormat Requested(int coding, int bitRate, int rate, int mode) {
    AudioFormat f;
    EXPECT_TRUE(MakeRequestedEncoder(coding, bitRate, rate, mode, &f));
    return f;
}
}  // namespace

TEST(RipEncoderRulesTest, SetEncoderNormalisesPerCodingType) {
    EXPECT_EQ(Requested(CODING_MPEG_L2, 128000, 44099, 20).sampleRate, 32000);
    EXPECT_EQ(Requested(CODING_MPEG_L2, 128000, 44100, 20).sampleRate, 44100);
    EXPECT_EQ(Requested(CODING_MPEG_L2, 128000, 96000, 20).sampleRate, 48000);
    EXPECT_EQ(Requested(CODING_PCM, 0, 15999, 10).sampleRate, 8000);
    EXPECT_EQ(Requested(CODING_PCM, 0, 48000, 22).deviceMode, DEVICEMODE_STEREO);
    EXPECT_EQ(Requested(CODING_PCM, 0, 48000, 10).deviceMode, DEVICEMODE_MONO);
    EXPECT_EQ(Requested(CODING_MPEG_L3, 64000, 48000, 11).deviceMode, DEVICEMODE_MONO);
    EXPECT_EQ(Requested(CODING_MPEG_L3, 64000, 48000, 22).deviceMode, DEVICEMODE_DUAL_MONO);

    const AudioFormat g711 = Requested(CODING_G711_ULAW, 1, 48000, 20);
    EXPECT_EQ(g711.sampleRate, 8000);
    EXPECT_EQ(g711.bitRate, 64000);
    EXPECT_EQ(g711.deviceMode, DEVICEMODE_MONO);
    EXPECT_EQ(g711.aptxOption, 0);
    EXPECT_EQ(g711.direction, 0);
    const AudioFormat g722 = Requested(CODING_G722, 1, 48000, 20);
    EXPECT_EQ(g722.sampleRate, 16000);
    EXPECT_EQ(g722.bitRate, 64000);

    AudioFormat kept = Requested(CODING_PCM, 0, 48000, 10);
    EXPECT_FALSE(MakeRequestedEncoder(CODING_APTX, 64000, 48000, 10, &kept));
    EXPECT_EQ(kept.codingType, CODING_PCM);  // a refused request leaves the format
}

TEST(RipEncoderRulesTest, MpegBitRatesSnapUpwards) {
    EXPECT_EQ(SnapMpegBitRate(CODING_MPEG_L2, 200000), 224000);
    EXPECT_EQ(SnapMpegBitRate(CODING_MPEG_L2, 224000), 224000);
    EXPECT_EQ(SnapMpegBitRate(CODING_MPEG_L2, 1), 8000);
    EXPECT_EQ(SnapMpegBitRate(CODING_MPEG_L2, 384000), 384000);
    EXPECT_EQ(SnapMpegBitRate(CODING_MPEG_L3, 330000), 320000);
    EXPECT_EQ(SnapMpegBitRate(CODING_MPEG_L2, 400000), 320000);
}

TEST(RipEncoderRulesTest, NetworkChecksAdjustRateAndMode) {
    AudioFormat f = Requested(CODING_MPEG_L2, 200000, 24000, 10);
    ASSERT_TRUE(CheckTCPEncoder(&f));
    EXPECT_EQ(f.bitRate, 224000);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_JOINT_STEREO);

    f = Requested(CODING_MPEG_L2, 24000, 48000, 20);
    ASSERT_TRUE(CheckTCPEncoder(&f));
    EXPECT_EQ(f.sampleRate, 24000);  // low rates halve a high sample rate
    EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);

    f = Requested(CODING_MPEG_L2, 48000, 48000, 20);
    ASSERT_TRUE(CheckTCPEncoder(&f));
    EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);

    f = Requested(CODING_PCM, 0, 8000, 10);
    ASSERT_TRUE(CheckTCPEncoder(&f));
    EXPECT_EQ(f.sampleRate, 16000);

    f = Requested(CODING_G722, 0, 16000, 10);
    EXPECT_FALSE(CheckTCPEncoder(&f));
}

TEST(RipEncoderRulesTest, IsdnCheckFitsTheChannels) {
    AudioFormat f = Requested(CODING_MPEG_L2, 96000, 44100, 20);
    ASSERT_TRUE(CheckISDNEncoder(&f));
    EXPECT_EQ(f.bitRate, 128000);
    EXPECT_EQ(f.sampleRate, 48000);
    f = Requested(CODING_MPEG_L3, 56000, 22050, 10);
    ASSERT_TRUE(CheckISDNEncoder(&f));
    EXPECT_EQ(f.bitRate, 64000);
    EXPECT_EQ(f.sampleRate, 24000);
    f = Requested(CODING_MPEG_L2, 128000, 32000, 10);
    ASSERT_TRUE(CheckISDNEncoder(&f));
    EXPECT_EQ(f.sampleRate, 32000);
    f = Requested(CODING_PCM, 0, 48000, 10);
    EXPECT_FALSE(CheckISDNEncoder(&f));
}
