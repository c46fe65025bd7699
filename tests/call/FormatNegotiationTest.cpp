// What an answering station sends back and what a decoder takes from the
// peer, without a connection.
#include "call/FormatNegotiation.h"

#include <gtest/gtest.h>

#include "call/FormatRules.h"
#include "support/TempDir.h"
#include "support/TestFormat.h"

namespace {

AudioFormat Format(int coding, int rate, int mode, int bitRate, int direction = DIRECTION_BOTH) {
    AudioFormat f = TestFormat(coding, bitRate, rate, mode, 0, direction);
    NormalizeFormat(f, FormatUse::Received, 0);
    return f;
}

TEST(FormatNegotiation, AnswerFollowsTheSettingsOrEchoesTheCaller) {
    const AudioFormat caller = Format(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 256000);
    AnswerSettings answer;
    answer.codingType = CODING_PCM;
    answer.sampleRate = 32000;
    answer.deviceMode = DEVICEMODE_MONO;
    AudioFormat c = ChooseAnswerFormat(caller, AudioFormat(), answer, TRANSPORT_TCP, 0);
    EXPECT_EQ(c.codingType, CODING_PCM);
    EXPECT_EQ(c.sampleRate, 32000);
    EXPECT_EQ(c.deviceMode, DEVICEMODE_MONO);
    EXPECT_EQ(c.bitRate, 512000);  // unset answer rate: derived for PCM
    EXPECT_EQ(c.frameBytes, 2304);

    // G.722 is always 16 kHz mono at 64 kbit/s.
    answer.codingType = CODING_G722;
    c = ChooseAnswerFormat(caller, AudioFormat(), answer, TRANSPORT_TCP, 0);
    EXPECT_EQ(c.sampleRate, 16000);
    EXPECT_EQ(c.deviceMode, DEVICEMODE_MONO);
    EXPECT_EQ(c.bitRate, 64000);

    // Unset settings take the caller's values; ISDN takes the caller's bit rate.
    AnswerSettings open;
    open.bitRate = 128000;
    c = ChooseAnswerFormat(caller, AudioFormat(), open, TRANSPORT_ISDN, 0);
    EXPECT_TRUE(SameFormat(c, caller));
    c = ChooseAnswerFormat(caller, AudioFormat(), open, TRANSPORT_TCP, 0);
    EXPECT_EQ(c.bitRate, 128000);
    EXPECT_EQ(c.frameBytes, 384);

    // Echoed: same settings, a send-only caller, G.711.
    answer.sameSettings = 1;
    EXPECT_TRUE(SameFormat(ChooseAnswerFormat(caller, AudioFormat(), answer, TRANSPORT_TCP, 0), caller));
    answer.sameSettings = 0;
    const AudioFormat sendOnly = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 0, DIRECTION_SEND_ONLY);
    EXPECT_EQ(ChooseAnswerFormat(sendOnly, AudioFormat(), answer, TRANSPORT_TCP, 0).codingType, CODING_PCM);
    const AudioFormat g711 = Format(CODING_G711_ULAW, 8000, DEVICEMODE_MONO, 64000);
    EXPECT_EQ(ChooseAnswerFormat(g711, AudioFormat(), answer, TRANSPORT_ISDN, 0).codingType, CODING_G711_ULAW);
}

TEST(FormatNegotiation, AnswerThatCannotPassFallsBackToTheCallersFormat) {
    const AudioFormat caller = Format(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 256000);
    AnswerSettings answer;
    answer.bitRate = 2000000000;  // a frame no pass can carry
    const AudioFormat c = ChooseAnswerFormat(caller, AudioFormat(), answer, TRANSPORT_TCP, 0);
    EXPECT_TRUE(SameFormat(c, caller));
    EXPECT_TRUE(FrameFitsPass(c));
}

TEST(FormatNegotiation, AnswerSettingsByTransport) {
    CTempDir dir;
    CSettings s(dir.File("a.ini"));
    s.WriteInt("TCP", "AnswerCodingType", CODING_MPEG_L2);
    s.WriteInt("TCP", "AnswerSameSettings", 1);
    s.WriteInt("ISDN", "AnswerCodingType", CODING_G722);
    AnswerSettings a;
    ReadAnswerSettings(s, TRANSPORT_TCP, a);
    EXPECT_EQ(a.codingType, s.GetTCPAnswerCodingType());
    EXPECT_EQ(a.sameSettings, s.GetTCPAnswerSameSettings());
    ReadAnswerSettings(s, TRANSPORT_ISDN, a);
    EXPECT_EQ(a.codingType, s.GetISDNAnswerCodingType());
    EXPECT_EQ(a.sameSettings, 0);
    a.codingType = 77;
    ReadAnswerSettings(s, TRANSPORT_MULTICAST, a);  // nothing to read
    EXPECT_EQ(a.codingType, 77);
}

TEST(FormatNegotiation, DecoderFormatAndAptxSync) {
    const AudioFormat peer = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 0, DIRECTION_SEND_ONLY);
    AudioFormat encode;
    encode.direction = DIRECTION_RECEIVE_ONLY;
    EXPECT_EQ(DecodeFormatFor(peer, encode).direction, DIRECTION_BOTH);
    encode.direction = DIRECTION_BOTH;
    EXPECT_EQ(DecodeFormatFor(peer, encode).direction, DIRECTION_SEND_ONLY);

    AudioFormat sent = Format(CODING_APTX, 48000, DEVICEMODE_STEREO, 0);
    AudioFormat heard = sent;
    sent.aptxOption = 1;
    heard.aptxOption = 0;
    EXPECT_TRUE(EncoderDropsAptxSync(sent, heard));
    heard.aptxOption = 1;
    EXPECT_FALSE(EncoderDropsAptxSync(sent, heard));
    heard.codingType = CODING_APTX_ENH;
    heard.aptxOption = 0;
    EXPECT_FALSE(EncoderDropsAptxSync(sent, heard));
}

}  // namespace
