#include "ui/AnswerIpLogic.h"

#include <gtest/gtest.h>

#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"

namespace {
struct AnswerIpLogicTest : ::testing::Test {
    void Open() { m_logic.Load(m_settings, "Other ->"); }
    // Accept on, same settings off: every audio control live.
    void OpenFixed() {
        Open();
        m_logic.SetSameSettings(false);
    }

    CTempDir m_dir{"answer-ip"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
    CAnswerIpLogic m_logic;
};

TEST_F(AnswerIpLogicTest, DefaultsStoreExactlyThePagesKeys) {
    Open();
    EXPECT_EQ(m_logic.SelectedPort(), "5003");
    EXPECT_EQ(m_logic.CodingEntry(), CAnswerIpLogic::kLayer3);
    EXPECT_EQ(m_logic.Bitrate(), 128000);
    EXPECT_EQ(m_logic.Samplerate(), 48000);
    EXPECT_EQ(m_logic.Mode(), 20);
    ASSERT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kOk);
    const std::map<std::string, std::string> expected = {
        {"TCP/AnswerAcceptCalls", "1"},      {"TCP/AnswerSameSettings", "1"}, {"TCP/PortNumber", "5003"},
        {"TCP/Answer-CodingType", "64"},     {"TCP/Answer-CodingRate", "128000"},
        {"TCP/Answer-Samplerate", "48000"},  {"TCP/Answer-DeviceMode", "20"}};
    EXPECT_EQ(IniKeys(m_settings.GetPath()), expected);
}

TEST_F(AnswerIpLogicTest, PortListAndOtherPort) {
    m_settings.SetTCPPortNumber(5103);
    Open();
    EXPECT_EQ(m_logic.SelectedPort(), "5103");
    EXPECT_FALSE(m_logic.OtherPortChosen());
    EXPECT_FALSE(m_logic.Enabled().portEdit);
    EXPECT_EQ(m_logic.PortEntries().back(), "Other ->");  // sorted by text

    m_settings.SetTCPPortNumber(6000);
    Open();
    EXPECT_TRUE(m_logic.OtherPortChosen());
    EXPECT_EQ(m_logic.OtherPort(), "6000");
    EXPECT_TRUE(m_logic.Enabled().portEdit);
    m_logic.SetOtherPort("");
    ASSERT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kOk);
    EXPECT_EQ(m_settings.GetTCPPortNumber(), 5003);
    m_logic.SetOtherPort("0");
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetTCPPortNumber(), 5003);
    m_logic.SetOtherPort("8304x");
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetTCPPortNumber(), 8304);
    m_logic.SelectPort("8203");
    EXPECT_FALSE(m_logic.Enabled().portEdit);
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetTCPPortNumber(), 8203);
}

TEST_F(AnswerIpLogicTest, EnablingMatrixOfAcceptSameAndCoding) {
    Open();
    using E = CAnswerIpLogic::Enabling;
    auto audioOff = [](const E& e) { return !e.coding && !e.bitrate && !e.samplerate && !e.mono && !e.stereo; };
    m_logic.SetAcceptCalls(false);
    E e = m_logic.Enabled();
    EXPECT_FALSE(e.portList || e.portEdit || e.sameSettings);
    EXPECT_TRUE(audioOff(e));
    m_logic.SetAcceptCalls(true);
    e = m_logic.Enabled();
    EXPECT_TRUE(e.portList && e.sameSettings);
    EXPECT_TRUE(audioOff(e));  // same settings
    m_logic.SetSameSettings(false);
    struct Case {
        int coding;
        bool bitrate, jointAndDual;
    };
    for (const Case& c : {Case{CAnswerIpLogic::kPcm, false, false}, Case{CAnswerIpLogic::kLayer3, true, true},
                          Case{CAnswerIpLogic::kLayer2, true, true}, Case{CAnswerIpLogic::kAptx, false, false},
                          Case{CAnswerIpLogic::kEnhancedAptx, false, false}}) {
        m_logic.SelectCoding(c.coding);
        e = m_logic.Enabled();
        EXPECT_TRUE(e.coding && e.samplerate && e.mono && e.stereo) << c.coding;
        EXPECT_EQ(e.bitrate, c.bitrate) << c.coding;
        EXPECT_EQ(e.joint, c.jointAndDual) << c.coding;
        EXPECT_EQ(e.dual, c.jointAndDual) << c.coding;
    }
}

TEST_F(AnswerIpLogicTest, BitrateAndSamplerateLists) {
    OpenFixed();
    EXPECT_EQ(m_logic.Bitrates().size(), 18u);
    m_logic.SelectCoding(CAnswerIpLogic::kLayer2);
    EXPECT_EQ(m_logic.Bitrates().size(), 19u);
    EXPECT_EQ(m_logic.Bitrates().back(), 384000);
    m_logic.SelectBitrate(384000);
    m_logic.SelectCoding(CAnswerIpLogic::kLayer3);
    EXPECT_EQ(m_logic.Bitrate(), 128000);  // 384 is gone: back to 128
    m_logic.SelectCoding(CAnswerIpLogic::kAptx);
    EXPECT_TRUE(m_logic.Bitrates().empty());
    EXPECT_EQ(m_logic.Samplerates().size(), 6u);
    m_logic.SelectCoding(CAnswerIpLogic::kLayer3);
    m_logic.SelectBitrate(96000);
    m_logic.SelectCoding(CAnswerIpLogic::kPcm);
    EXPECT_EQ(m_logic.Bitrates().size(), 18u);  // PCM leaves the list as it was
    EXPECT_EQ(m_logic.Bitrate(), 96000);

    // Layer III at 320 kbit/s: only the high rates; 24000 Hz becomes twice that.
    m_logic.SelectCoding(CAnswerIpLogic::kLayer3);
    m_logic.SelectSamplerate(24000);
    m_logic.SelectBitrate(320000);
    EXPECT_EQ(m_logic.Samplerates(), (std::vector<int>{48000, 44100, 32000}));
    EXPECT_EQ(m_logic.Samplerate(), 48000);
    // Down to 8 kbit/s: only the low rates; 48000 has no double, so half of it.
    m_logic.SelectBitrate(8000);
    EXPECT_EQ(m_logic.Samplerates(), (std::vector<int>{24000, 22050, 16000}));
    EXPECT_EQ(m_logic.Samplerate(), 24000);
    m_logic.SelectCoding(CAnswerIpLogic::kLayer2);
    m_logic.SelectBitrate(40000);
    EXPECT_EQ(m_logic.Samplerates().size(), 3u);
    m_logic.SelectCoding(CAnswerIpLogic::kLayer3);  // 40 kbit/s keeps all for Layer III
    EXPECT_EQ(m_logic.Samplerates().size(), 6u);
}

TEST_F(AnswerIpLogicTest, Layer2ModeRules) {
    OpenFixed();
    m_logic.SelectCoding(CAnswerIpLogic::kLayer2);
    m_logic.SelectSamplerate(48000);
    m_logic.SetMode(21);
    m_logic.SelectBitrate(56000);
    EXPECT_EQ(m_logic.Mode(), 10);
    auto e = m_logic.Enabled();
    EXPECT_TRUE(e.mono);
    EXPECT_FALSE(e.joint || e.stereo || e.dual);
    m_logic.SetMode(20);  // greyed out
    EXPECT_EQ(m_logic.Mode(), 10);
    m_logic.SelectBitrate(256000);
    EXPECT_EQ(m_logic.Mode(), 21);
    e = m_logic.Enabled();
    EXPECT_FALSE(e.mono);
    EXPECT_TRUE(e.joint && e.stereo && e.dual);
    // Below 32000 Hz the rules do not hold.
    m_logic.SelectBitrate(64000);
    m_logic.SelectSamplerate(24000);
    m_logic.SetMode(10);
    m_logic.SelectBitrate(80000);
    EXPECT_EQ(m_logic.Mode(), 10);
    EXPECT_TRUE(m_logic.Enabled().stereo);
}

TEST_F(AnswerIpLogicTest, CodingsWithoutJointOrDualModeStoreStereo) {
    for (int mode : {21, 22}) {
        for (int coding : {CAnswerIpLogic::kPcm, CAnswerIpLogic::kAptx, CAnswerIpLogic::kEnhancedAptx}) {
            OpenFixed();
            m_logic.SelectCoding(CAnswerIpLogic::kLayer3);
            m_logic.SetMode(mode);
            ASSERT_EQ(m_logic.Mode(), mode);
            m_logic.SelectCoding(coding);
            EXPECT_EQ(m_logic.Mode(), 20) << mode << " " << coding;
            ASSERT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kOk);
            EXPECT_EQ(m_settings.GetTCPAnswerDeviceMode(), 20);
        }
    }
}

TEST_F(AnswerIpLogicTest, AFailedCheckWritesNothing) {
    OpenFixed();
    m_logic.SelectPort("8003");
    m_logic.SelectCoding(CAnswerIpLogic::kLayer2);
    m_logic.SelectBitrate(0);
    EXPECT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kNeedCodingRate);
    m_logic.SelectBitrate(192000);
    m_logic.SelectSamplerate(0);
    EXPECT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kNeedSamplerate);
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());
    // Checked also while the same-settings box greys the lists out.
    m_logic.SetSameSettings(true);
    EXPECT_EQ(m_logic.Validate(), CAnswerIpLogic::kNeedSamplerate);
    m_logic.SelectSamplerate(32000);
    ASSERT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kOk);
    EXPECT_EQ(m_settings.GetTCPAnswerCodingType(), 32);
    EXPECT_EQ(m_settings.GetTCPAnswerCodingRate(), 192000);
    EXPECT_EQ(m_settings.GetTCPPortNumber(), 8003);
}

TEST_F(AnswerIpLogicTest, StoredValuesComeBack) {
    m_settings.SetTCPAnswerAcceptCalls(0);
    m_settings.SetTCPAnswerSameSettings(0);
    m_settings.SetTCPAnswerCodingType(272);
    m_settings.SetTCPAnswerSamplerate(32000);
    m_settings.SetTCPAnswerDeviceMode(10);
    Open();
    EXPECT_FALSE(m_logic.AcceptCalls());
    EXPECT_FALSE(m_logic.SameSettings());
    EXPECT_EQ(m_logic.CodingEntry(), CAnswerIpLogic::kEnhancedAptx);
    EXPECT_EQ(m_logic.Samplerate(), 32000);
    EXPECT_EQ(m_logic.Mode(), 10);
    ASSERT_EQ(m_logic.Store(m_settings), CAnswerIpLogic::kOk);
    EXPECT_EQ(m_settings.GetTCPAnswerCodingType(), 272);
    EXPECT_EQ(m_settings.GetTCPAnswerCodingRate(), 128000);  // left alone: apt-X has no rate
    EXPECT_EQ(IniKeys(m_settings.GetPath()).count("TCP/Answer-CodingRate"), 0u);
}
}  // namespace
