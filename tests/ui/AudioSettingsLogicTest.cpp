#include "ui/AudioSettingsLogic.h"

#include <gtest/gtest.h>

#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"

namespace {
using L = CAudioSettingsLogic;

struct AudioSettingsLogicTest : ::testing::Test {
    CTempDir m_dir{"audio-settings"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
    L m_logic;
};

TEST_F(AudioSettingsLogicTest, DefaultsStoreExactlyTheDialogsKeys) {
    m_logic.Load(m_settings);
    EXPECT_EQ(m_logic.SliderPosition(L::kPlay), 1);
    EXPECT_EQ(m_logic.SliderPosition(L::kAsio), 4);
    EXPECT_EQ(m_logic.SliderPosition(L::kEndpoint), 3);
    m_logic.Store(m_settings);
    const std::map<std::string, std::string> expected = {
        {"Audio/EnableSRC", "1"}, {"Audio/Mp2Processing", "1"}, {"Audio/Mp3Processing", "0"},
        {"Play/BlockTime", "10"}, {"Rec/BlockTime", "10"},      {"ASIO/BlockTime", "4"},
        {"CoreAudio/BlockTime", "3"}};
    EXPECT_EQ(IniKeys(m_settings.GetPath()), expected);
}

TEST_F(AudioSettingsLogicTest, SlidersStepTenMsForWaveAndOneForTheOthers) {
    m_logic.Load(m_settings);
    m_logic.MoveSlider(L::kPlay, 3);
    m_logic.MoveSlider(L::kRec, 0);
    m_logic.MoveSlider(L::kAsio, 5);
    m_logic.MoveSlider(L::kEndpoint, 99);
    EXPECT_EQ(m_logic.BlockTime(L::kPlay), 30);
    EXPECT_EQ(m_logic.BlockTime(L::kRec), 0);
    EXPECT_EQ(m_logic.BlockTime(L::kAsio), 5);
    EXPECT_EQ(m_logic.BlockTime(L::kEndpoint), 8);
    m_logic.SetSrcDisabled(true);
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetPlayBlockTime(), 30);
    EXPECT_EQ(m_settings.GetASIOBlockTime(), 5);
    EXPECT_EQ(m_settings.GetCoreAudioBlockTime(), 8);
    EXPECT_EQ(m_settings.GetAudioEnableSRC(), 0);
}

TEST_F(AudioSettingsLogicTest, StoredTimesOutsideTheRangeShowAtTheEnds) {
    m_settings.SetPlayBlockTime(200);
    m_settings.SetASIOBlockTime(1);
    m_logic.Load(m_settings);
    EXPECT_EQ(m_logic.SliderPosition(L::kPlay), 6);
    EXPECT_EQ(m_logic.SliderPosition(L::kAsio), 2);
    EXPECT_EQ(m_logic.BlockTime(L::kPlay), 200);  // kept until the slider moves
}

TEST_F(AudioSettingsLogicTest, Mp3ProcessingWithoutItsEntryStoresNoSelection) {
    m_settings.SetAudioMp3Processing(1);
    m_settings.SetAudioMp2Processing(0);
    m_logic.Load(m_settings);
    EXPECT_EQ(m_logic.Mp3Selection(), -1);
    EXPECT_EQ(m_logic.Mp2Selection(), 0);
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetAudioMp3Processing(), -1);
    EXPECT_EQ(m_settings.GetAudioMp2Processing(), 0);
}
}  // namespace
