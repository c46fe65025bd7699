#include "ui/AudioSetupCheck.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

TEST(AudioSetupCheckTest, EachSettingThatSilencesCallsIsNamed) {
    CTempDir dir;
    CSettings settings(dir.File("Velmora.Ini"));
    // No [Audio] section at all.
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 1, 1), "No sound interface chosen");
    settings.WriteInt("Audio", "Interface", 999);
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 1, 1), "No sound interface chosen");
    settings.WriteInt("Audio", "Interface", 3);  // endpoints: no cards to count
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 0, 0), "");
    settings.WriteInt("Audio", "Interface", 1);
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 1, 1), "");
    EXPECT_NE(DescribeAudioSetupProblem(settings, 0, 1).find("No recording device 0"), std::string::npos);
    settings.WriteInt("Play", "Card", 3);
    EXPECT_NE(DescribeAudioSetupProblem(settings, 1, 3).find("No playback device 3"), std::string::npos);
    settings.WriteInt("Play", "Card", -1);  // the system's choice
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 1, 3), "");
    settings.WriteInt("TCP", "BufferSize", 1);
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 1, 1), "TCP buffer too small for audio");
    settings.WriteInt("TCP", "BufferSize", 6144);
    EXPECT_EQ(DescribeAudioSetupProblem(settings, 1, 1), "");
}
