#include "ui/destinations/IsdnFormatRules.h"

#include <gtest/gtest.h>

#include "common/Codes.h"

namespace {

AudioFormat Format(int coding, int bitRate, int sampleRate, int mode) {
    AudioFormat f;
    f.codingType = coding;
    f.bitRate = bitRate;
    f.sampleRate = sampleRate;
    f.deviceMode = mode;
    f.aptxOption = 0;
    return f;
}

AudioFormat After(AudioFormat f, IsdnChoice choice, bool twoChannelG722 = false) {
    ApplyIsdnChoice(f, choice);
    ApplyIsdnRules(f, twoChannelG722);
    return f;
}

void ExpectFormat(const AudioFormat& f, int coding, int bitRate, int sampleRate, int mode) {
    EXPECT_EQ(f.codingType, coding);
    EXPECT_EQ(f.bitRate, bitRate);
    EXPECT_EQ(f.sampleRate, sampleRate);
    EXPECT_EQ(f.deviceMode, mode);
}

TEST(IsdnFormatRulesTest, G711ForcesTelephoneFormat) {
    const AudioFormat f = After(Format(CODING_MPEG_L2, 128000, 48000, 21), IsdnChoice::G711);
    ExpectFormat(f, CODING_G711_ALAW, 64000, 8000, 10);
}

TEST(IsdnFormatRulesTest, TwoChannelsTurnG722IntoLayer2UnlessAllowed) {
    const AudioFormat g722 = After(Format(0, 64000, 0, 0), IsdnChoice::G722);
    ExpectFormat(g722, CODING_G722, 64000, 16000, 10);
    AudioFormat two = After(g722, IsdnChoice::TwoChannels);
    EXPECT_EQ(two.codingType, CODING_MPEG_L2);
    EXPECT_EQ(two.bitRate, 128000);
    two = After(g722, IsdnChoice::TwoChannels, true);
    EXPECT_EQ(two.codingType, CODING_G722);
    EXPECT_EQ(two.deviceMode, DEVICEMODE_MONO);
}

TEST(IsdnFormatRulesTest, AptxGrid) {
    // One channel: apt-X 16000 Hz mono, enhanced 15754 Hz mono.
    ExpectFormat(After(Format(CODING_MPEG_L2, 64000, 48000, 21), IsdnChoice::Aptx), CODING_APTX, 64000, 16000, 10);
    ExpectFormat(After(Format(CODING_MPEG_L2, 64000, 48000, 21), IsdnChoice::AptxEnhanced), CODING_APTX_ENH, 64000,
                 15754, 10);
    // Two channels: 31508 Hz mono or 15754 Hz stereo.
    for (IsdnChoice c : {IsdnChoice::Aptx, IsdnChoice::AptxEnhanced}) {
        const int coding = c == IsdnChoice::Aptx ? CODING_APTX : CODING_APTX_ENH;
        ExpectFormat(After(Format(CODING_MPEG_L2, 128000, 48000, 10), c), coding, 128000, 31508, 10);
        ExpectFormat(After(Format(CODING_MPEG_L2, 128000, 48000, 22), c), coding, 128000, 15754, 20);
    }
    // An apt-X entry switched to two channels: 48000 first, then the grid.
    AudioFormat f = After(After(Format(CODING_MPEG_L2, 64000, 48000, 10), IsdnChoice::Aptx), IsdnChoice::TwoChannels);
    ExpectFormat(f, CODING_APTX, 128000, 31508, 10);
    f = After(f, IsdnChoice::Stereo);
    ExpectFormat(f, CODING_APTX, 128000, 15754, 20);
    f = After(f, IsdnChoice::OneChannel);
    ExpectFormat(f, CODING_APTX, 64000, 16000, 10);
    // The option word stays set after a later change of codec.
    EXPECT_EQ(f.aptxOption, 1);
    EXPECT_EQ(After(f, IsdnChoice::Layer2).aptxOption, 1);
}

TEST(IsdnFormatRulesTest, EnabledChoicesPerChannelsAndCoding) {
    AudioFormat f = Format(CODING_MPEG_L3, 64000, 32000, 21);
    IsdnEnabled on = ApplyIsdnRules(f, false);
    EXPECT_TRUE(on.g711 && on.g722 && on.sampleRates && on.stereo && on.jointStereo && on.dualMono);
    EXPECT_FALSE(on.number2);
    f.bitRate = 0;  // neither rate: two channels
    on = ApplyIsdnRules(f, false);
    EXPECT_EQ(f.bitRate, 128000);
    EXPECT_FALSE(on.g711 || on.g722);
    EXPECT_TRUE(on.number2);
    f = Format(CODING_G722, 64000, 16000, 10);
    on = ApplyIsdnRules(f, false);
    EXPECT_FALSE(on.sampleRates || on.stereo || on.jointStereo || on.dualMono);
    f = Format(CODING_APTX, 128000, 15754, 20);
    on = ApplyIsdnRules(f, false);
    EXPECT_TRUE(on.stereo);
    EXPECT_FALSE(on.sampleRates || on.jointStereo || on.dualMono);
}

TEST(IsdnFormatRulesTest, MpegKeepsOnlyIsdnSampleRates) {
    for (int rate : {8000, 16000, 22050, 44100}) {
        const AudioFormat f = After(Format(CODING_G722, 64000, rate, 10), IsdnChoice::Layer3);
        EXPECT_EQ(f.sampleRate, 48000) << rate;
    }
    EXPECT_EQ(After(Format(CODING_G722, 64000, 24000, 10), IsdnChoice::Layer2).sampleRate, 24000);
    // Two channels keep 16000 Hz for a G.722 entry that stays G.722.
    EXPECT_EQ(After(Format(CODING_G722, 64000, 16000, 10), IsdnChoice::TwoChannels, true).sampleRate, 16000);
}

}  // namespace
