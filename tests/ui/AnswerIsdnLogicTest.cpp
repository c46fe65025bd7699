#include "ui/AnswerIsdnLogic.h"

#include <gtest/gtest.h>

#include "common/Settings.h"
#include "support/TempDir.h"
#include "support/IniKeys.h"

namespace {
struct AnswerIsdnLogicTest : ::testing::Test {
    CTempDir m_dir{"answer-isdn"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
    CAnswerIsdnLogic m_logic;
};

TEST_F(AnswerIsdnLogicTest, DefaultsOpenOnTheSameAsTheCallAndStoreEveryKey) {
    m_logic.Load(m_settings);
    EXPECT_TRUE(m_logic.AcceptCalls());
    EXPECT_EQ(m_logic.CodingType(), -1);
    EXPECT_EQ(m_logic.Samplerate(), -1);
    EXPECT_EQ(m_logic.DeviceMode(), -1);
    m_logic.Store(m_settings);
    const std::map<std::string, std::string> expected = {
        {"ISDN/MSN-0", ""},          {"ISDN/MSN-1", ""},           {"ISDN/AnswerAcceptCalls", "1"},
        {"ISDN/AnswerAcceptVoice", "1"}, {"ISDN/Answer-CodingType", "-1"}, {"ISDN/Answer-Samplerate", "-1"},
        {"ISDN/Answer-DeviceMode", "-1"}};
    EXPECT_EQ(IniKeys(m_settings.GetPath()), expected);
}

TEST_F(AnswerIsdnLogicTest, EnablingFollowsAcceptAndG722) {
    m_logic.Load(m_settings);
    struct Case {
        bool accept;
        int coding;
        bool calls, format;
    };
    for (const Case& c : {Case{true, -1, true, true}, Case{true, 32, true, true}, Case{true, 64, true, true},
                          Case{true, 8, true, false}, Case{false, 32, false, false}, Case{false, 8, false, false}}) {
        m_logic.SetAcceptCalls(c.accept);
        m_logic.SetCodingType(c.coding);
        EXPECT_EQ(m_logic.CallControlsEnabled(), c.calls) << c.accept << " " << c.coding;
        EXPECT_EQ(m_logic.FormatControlsEnabled(), c.format) << c.accept << " " << c.coding;
    }
}

TEST_F(AnswerIsdnLogicTest, G722StillStoresRateAndModeAndUnknownValuesReadAsSame) {
    m_settings.SetISDNAnswerCodingType(16);
    m_settings.SetISDNAnswerSamplerate(44100);
    m_settings.SetISDNAnswerDeviceMode(30);
    m_logic.Load(m_settings);
    EXPECT_EQ(m_logic.CodingType(), -1);
    EXPECT_EQ(m_logic.Samplerate(), -1);
    EXPECT_EQ(m_logic.DeviceMode(), -1);
    m_logic.SetCodingType(8);
    m_logic.SetSamplerate(32000);
    m_logic.SetDeviceMode(22);
    EXPECT_FALSE(m_logic.FormatControlsEnabled());
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetISDNAnswerCodingType(), 8);
    EXPECT_EQ(m_settings.GetISDNAnswerSamplerate(), 32000);
    EXPECT_EQ(m_settings.GetISDNAnswerDeviceMode(), 22);
}

TEST_F(AnswerIsdnLogicTest, MsnIsLimitedToWhatTheStoreKeeps) {
    m_logic.Load(m_settings);
    m_logic.SetMsn(0, "1234567890123456789012345");
    m_logic.SetMsn(1, "0815");
    EXPECT_EQ(m_logic.Msn(0), "1234567890123456789");
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetISDNMSN(0), "1234567890123456789");
    EXPECT_EQ(m_settings.GetISDNMSN(1), "0815");
    CAnswerIsdnLogic again;
    again.Load(m_settings);
    EXPECT_EQ(again.Msn(0), m_logic.Msn(0));
}

TEST_F(AnswerIsdnLogicTest, NothingIsStoredBeforeLoad) {
    m_logic.Store(m_settings);
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());
}
}  // namespace
