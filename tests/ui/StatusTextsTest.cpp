#include "ui/StatusTexts.h"

#include <gtest/gtest.h>

#include "common/MainWindowMessages.h"
#include "common/Translator.h"

namespace {

TEST(StatusTextsTest, BitRatesChangeUnitAtTheirBounds) {
    const struct {
        int rate;
        const char* text;
    } cases[] = {{0, "0bps"},         {10000, "10000bps"},      {10001, "10kbps"},  {64000, "64kbps"},
                 {128000, "128kbps"}, {4000000, "4000kbps"},    {4000001, "4Mbps"}, {-5, "-5bps"}};
    for (const auto& c : cases) EXPECT_EQ(FormatBitRate(c.rate), c.text) << c.rate;
}

TEST(StatusTextsTest, AudioFormatTexts) {
    AudioFormat f;
    f.codingType = 32;
    f.deviceMode = 20;
    f.sampleRate = 48000;
    f.bitRate = 128000;
    EXPECT_EQ(FormatAudioFormat(f), "MP-L2 S 48kHz 128kbps ");
    f.codingType = 1;
    f.deviceMode = 10;
    f.sampleRate = 32000;
    EXPECT_EQ(FormatAudioFormat(f), "PCM M 32kHz ");
    f.codingType = 272;
    f.deviceMode = 11;
    f.sampleRate = 44100;
    f.bitRate = 384499;
    EXPECT_EQ(FormatAudioFormat(f), "EnhAPTx 44kHz 384kbps ");
    f.sampleRate = 22050;
    f.codingType = 2;
    f.deviceMode = 21;
    EXPECT_EQ(FormatAudioFormat(f), "G.711 JS 22kHz 384kbps ");
    f.codingType = 4;
    f.deviceMode = 22;
    f.sampleRate = 7999;
    f.bitRate = 64000;
    EXPECT_EQ(FormatAudioFormat(f), "G.711 DM 8kHz 64kbps ");
    f.codingType = 3;
    EXPECT_EQ(FormatAudioFormat(f), "");
    // Below 10 Mbit/s a text stays below 32 characters.
    f.codingType = 272;
    f.deviceMode = 22;
    f.sampleRate = 192000;
    f.bitRate = 9999999;
    EXPECT_LT(FormatAudioFormat(f).size(), 32u);
}

TEST(StatusTextsTest, IsdnCausesAndNetworkErrors) {
    CTranslator t;
    EXPECT_EQ(FormatIsdnCause(t, 0x349F), "349f Remote party disconnected");
    EXPECT_EQ(FormatIsdnCause(t, 0x3490), "3490 ");
    EXPECT_EQ(FormatIsdnCause(t, 0x3493), "3493 No user responding");
    EXPECT_EQ(FormatIsdnCause(t, 0x34E3), "34e3 Unknown network error");
    EXPECT_EQ(FormatNetworkError(t, 10061), "10061 Connection refused");
    EXPECT_EQ(FormatNetworkError(t, 11004), "11004 The network is unavailable.");
    EXPECT_EQ(FormatNetworkError(t, 123), "00123 ");
    EXPECT_EQ(FormatNetworkError(t, static_cast<int>(0x80000000u | 10061)), "Connection to firewall refused");
    EXPECT_EQ(FormatNetworkError(t, static_cast<int>(0x80000000u | 0x50006)), "The firewall rejected the connection");
    EXPECT_EQ(FormatNetworkError(t, static_cast<int>(0x80000000u | 123)), "");
}

TEST(StatusTextsTest, ConnectionErrorsByKind) {
    CTranslator t;
    EXPECT_EQ(FormatConnectionError(t, 16, 10060), "10060 Connection timed out");
    EXPECT_EQ(FormatConnectionError(t, 128, 10048), "10048 The IP or Port number is already in use");
    EXPECT_EQ(FormatConnectionError(t, 32, 0x3491), "3491 User busy");
    EXPECT_EQ(FormatConnectionError(t, 0, 10061), "");
    EXPECT_EQ(FormatConnectionError(t, 64, 10061), "");
    const std::string fixed = FormatConnectionError(t, 0, static_cast<int>(ERROR_REMOTE_NO_FIXED_DELAY));
    EXPECT_EQ(fixed,
              "The remote version of Velmora does not support the fixed delay mode.\n\n"
              "- Please upgrade the remote Velmora or,\n- Select a different network type in the phonebook.");
    EXPECT_EQ(FormatConnectionError(t, 32, static_cast<int>(ERROR_REMOTE_NO_FIXED_DELAY)), fixed);
}

// Every code a builder can meet fits the callers' 72-byte buffers.
TEST(StatusTextsTest, NoTextIsLongerThan71Characters) {
    CTranslator t;
    size_t longest = 0;
    for (int code = 0x3300; code <= 0x34FF; ++code) longest = std::max(longest, FormatIsdnCause(t, code).size());
    EXPECT_EQ(longest, 71u);  // 0x34C6, the longest cause
    for (int code : {-1, 0, 8, 99999, 10048, 10049, 10050, 10051, 10053, 10054, 10060, 10061, 10065, 10091, 11001}) {
        EXPECT_LE(FormatNetworkError(t, code).size(), kMaxStatusTextLength) << code;
    }
    for (int code = 0x40000; code <= 0x51002; ++code) {
        EXPECT_LE(FormatNetworkError(t, static_cast<int>(0x80000000u | static_cast<uint32_t>(code))).size(),
                  kMaxStatusTextLength);
    }
}

}  // namespace
