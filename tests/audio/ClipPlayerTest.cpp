// The clip player on its own thread with clips made by sox: length, channels
// and output rate, rewinding, priming and the end, gain and levels.
#include "audio/ClipPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ToneAnalysis.h"
#include "codecs/G7xxPeer.h"
#include "common/Codes.h"

namespace {

using g7xx_test::HavePeer;
using g7xx_test::RunCommand;
using g7xx_test::WriteSamples;

constexpr auto kBound = std::chrono::seconds(20);  // generous: the machine may be loaded

struct ClipPlayerTest : ::testing::Test {
    CTempDir m_dir{"clip"};
    CClipPlayer m_player;

    std::string Path(const std::string& name) const { return (m_dir.Path() / name).string(); }

    // A 1000 Hz tone at 48 kHz as a raw clip, made by sox.
    std::string SoxClip(const std::string& name, int channels, double seconds) {
        const std::string path = Path(name);
        const std::string cmd = "sox -q -D -n -r 48000 -c " + std::to_string(channels) + " -b 16 -e signed -t raw '" +
                                path + "' synth " + std::to_string(seconds) + " sine 1000 vol 0.5";
        EXPECT_EQ(RunCommand(cmd), 0) << cmd;
        return path;
    }

    void Load(const std::string& path) {
        m_player.SetFileName(path.c_str());
        ASSERT_EQ(m_player.PostCommand(kClipCommandOpen), 1);
    }

    // Everything the player gives until it reports the end, in reads of `chunk` bytes.
    std::vector<int16_t> PlayToEnd(int chunk) {
        std::vector<int16_t> out;
        std::vector<int16_t> buffer(static_cast<size_t>(chunk / 2));
        const auto until = std::chrono::steady_clock::now() + kBound;
        while (!m_player.IsFinished() && std::chrono::steady_clock::now() < until) {
            const int n = m_player.Read(buffer.data(), chunk);
            if (n > 0) {
                out.insert(out.end(), buffer.begin(), buffer.begin() + n / 2);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the player's thread fills the ring
            }
        }
        EXPECT_TRUE(m_player.IsFinished());
        return out;
    }
};

TEST_F(ClipPlayerTest, LengthAndChannelsComeFromSizeAndName) {
    std::vector<int16_t> samples(480000, 100);  // 960000 bytes
    ASSERT_TRUE(WriteSamples(Path("0001 Ten.mpcm"), samples));
    ASSERT_TRUE(WriteSamples(Path("0002 Five.spcm"), samples));
    ASSERT_TRUE(WriteSamples(Path("0003 Upper.SPCM"), samples));
    ASSERT_EQ(m_player.Start(0), 1);
    Load(Path("0001 Ten.mpcm"));
    EXPECT_EQ(m_player.GetLengthMs(), 10000);
    EXPECT_EQ(m_player.GetChannels(), 1);
    Load(Path("0002 Five.spcm"));
    EXPECT_EQ(m_player.GetLengthMs(), 5000);
    EXPECT_EQ(m_player.GetChannels(), 2);
    Load(Path("0003 Upper.SPCM"));
    EXPECT_EQ(m_player.GetChannels(), 2);
    EXPECT_EQ(CClipPlayer::ChannelsOfName("s"), 1);
    EXPECT_EQ(CClipPlayer::ChannelsOfName(""), 1);
    EXPECT_EQ(CClipPlayer::ChannelsOfName("spcm"), 2);
    // A file that cannot be opened leaves no clip.
    Load(Path("missing.spcm"));
    EXPECT_EQ(m_player.GetLengthMs(), 0);
}

TEST_F(ClipPlayerTest, SoxClipsPlayAtTheOutputRateAndChannelsAsked) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    struct Case {
        int clipChannels;
        int rate;
        int deviceMode;
    } cases[] = {{1, 48000, DEVICEMODE_MONO}, {2, 32000, DEVICEMODE_STEREO}, {1, 24000, DEVICEMODE_STEREO},
                 {2, 16000, DEVICEMODE_MONO}};
    ASSERT_EQ(m_player.Start(1), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE("clip channels " + std::to_string(c.clipChannels) + " to " + std::to_string(c.rate));
        const std::string clip = SoxClip(c.clipChannels == 1 ? "0001 Tone.mpcm" : "0002 Tone.spcm", c.clipChannels, 0.5);
        Load(clip);
        EXPECT_EQ(m_player.GetLengthMs(), 500);
        m_player.SetOutputFormat(c.rate, c.deviceMode);
        const int outChannels = c.deviceMode == DEVICEMODE_MONO ? 1 : 2;
        EXPECT_EQ(m_player.GetChannels(), outChannels);
        const std::vector<int16_t> out = PlayToEnd(960);
        const size_t frames = out.size() / outChannels;
        // Half a second at the output rate, plus the filter's tail from the closing block of silence.
        EXPECT_GE(frames, static_cast<size_t>(c.rate / 2 - c.rate / 100));
        EXPECT_LE(frames, static_cast<size_t>(c.rate / 2 + c.rate / 5));
        // The tone measured at the output rate: 1000 Hz, half scale, on every channel.
        for (int ch = 0; ch < outChannels; ++ch) {
            const ToneFit fit = FitTone(out.data(), c.rate / 10, c.rate / 5, outChannels, ch, 1000.0, c.rate);
            EXPECT_NEAR(fit.amplitude, 16384 * (c.rate == 48000 ? 1.0 : 0.89), 16384 * 0.05) << ch;
            EXPECT_LT(fit.residualRms, 100.0) << ch;
        }
        std::printf("%d-channel clip to %d Hz, %d channels: %zu frames\n", c.clipChannels, c.rate, outChannels, frames);
    }
}

TEST_F(ClipPlayerTest, ReloadingRewindsAndPrimingWaitsForTheRing) {
    std::vector<int16_t> ramp(96000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i % 30000);
    const std::string clip = Path("0001 Ramp.mpcm");
    ASSERT_TRUE(WriteSamples(clip, ramp));
    ASSERT_EQ(m_player.Start(0), 1);
    Load(clip);
    m_player.SetOutputFormat(48000, DEVICEMODE_MONO);
    std::vector<int16_t> buffer(480);
    // Not primed: nothing comes out until the ring holds all but 24 ms of its room.
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (!m_player.IsPrimed() && std::chrono::steady_clock::now() < until) {
        EXPECT_EQ(m_player.Read(buffer.data(), 960), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(m_player.IsPrimed());
    EXPECT_GE(m_player.GetRingFill(), CClipPlayer::kRingBytes - (480 * 24 / 5 + 4));
    ASSERT_EQ(m_player.Read(buffer.data(), 960), 960);
    for (int i = 0; i < 480; ++i) ASSERT_EQ(buffer[i], ramp[i]) << i;
    ASSERT_EQ(m_player.Read(buffer.data(), 960), 960);
    EXPECT_EQ(buffer[0], ramp[480]);
    // Loading the same clip again starts it over, in the same format.
    Load(clip);
    EXPECT_EQ(m_player.GetChannels(), 1);
    const auto again = std::chrono::steady_clock::now() + kBound;
    while (!m_player.IsPrimed() && std::chrono::steady_clock::now() < again)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(m_player.Read(buffer.data(), 960), 960);
    EXPECT_EQ(buffer[0], ramp[0]);
    EXPECT_EQ(buffer[479], ramp[479]);
    EXPECT_EQ(m_player.IsFinished(), 0);
    const std::vector<int16_t> rest = PlayToEnd(4000);
    // The rest of the clip, then the closing silence; the last partial read adds nothing stale.
    ASSERT_GE(rest.size(), ramp.size() - 480);
    for (size_t i = 0; i < ramp.size() - 480; ++i) ASSERT_EQ(rest[i], ramp[480 + i]) << i;
    for (size_t i = ramp.size() - 480; i < rest.size(); ++i) ASSERT_EQ(rest[i], 0) << i;
}

TEST_F(ClipPlayerTest, GainDividesAndLevelsFollowTheChannels) {
    std::vector<int16_t> stereo(48000 * 2);
    for (size_t i = 0; i < stereo.size(); i += 2) {
        stereo[i] = 8000;
        stereo[i + 1] = -3001;
    }
    ASSERT_TRUE(WriteSamples(Path("0001 Levels.spcm"), stereo));
    ASSERT_EQ(m_player.Start(1), 1);
    Load(Path("0001 Levels.spcm"));
    m_player.SetOutputFormat(48000, DEVICEMODE_STEREO);
    m_player.SetGain(1, 2.0);
    std::vector<int16_t> buffer(960);
    int n = 0;
    const auto until = std::chrono::steady_clock::now() + kBound;
    while ((n = m_player.Read(buffer.data(), 1920)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(n, 1920);
    EXPECT_EQ(buffer[0], 4000);
    EXPECT_EQ(buffer[1], -1500);  // truncated toward zero
    int left = 0, right = 0;
    m_player.GetLevels(&left, &right);
    EXPECT_EQ(left, 4000);
    EXPECT_EQ(right, 1500);
    m_player.ClearLevels();
    m_player.GetLevels(&left, &right);
    EXPECT_EQ(left + right, 0);
    // Mono output: both levels take the peak of all samples.
    m_player.SetGain(0, 1.0);
    m_player.SetOutputFormat(48000, DEVICEMODE_MONO);
    const auto again = std::chrono::steady_clock::now() + kBound;
    while ((n = m_player.Read(buffer.data(), 960)) == 0 && std::chrono::steady_clock::now() < again)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GT(n, 0);
    m_player.GetLevels(&left, &right);
    EXPECT_EQ(left, right);
    EXPECT_GT(left, 0);
}

TEST_F(ClipPlayerTest, AnOutputRateWithoutAConverterEndsTheClipAtOnce) {
    std::vector<int16_t> samples(4800, 1000);
    ASSERT_TRUE(WriteSamples(Path("0001 Odd.mpcm"), samples));
    ASSERT_EQ(m_player.Start(0), 1);
    Load(Path("0001 Odd.mpcm"));
    EXPECT_EQ(m_player.IsFinished(), 0);
    m_player.SetOutputFormat(12345, DEVICEMODE_MONO);
    ASSERT_TRUE(m_player.WaitForCommandSlot());
    EXPECT_EQ(m_player.HasFormatFailed(), 1);
    EXPECT_EQ(m_player.IsFinished(), 1);
    // A good format afterwards plays the clip.
    m_player.SetOutputFormat(48000, DEVICEMODE_MONO);
    ASSERT_TRUE(m_player.WaitForCommandSlot());
    EXPECT_EQ(m_player.HasFormatFailed(), 0);
    EXPECT_GE(PlayToEnd(960).size(), samples.size());
}

TEST_F(ClipPlayerTest, ClosingWhilePlayingAndDestroyingJoinCleanly) {
    std::vector<int16_t> samples(48000, 500);
    ASSERT_TRUE(WriteSamples(Path("0001 Close.mpcm"), samples));
    auto player = std::make_unique<CClipPlayer>();
    ASSERT_EQ(player->Start(1), 1);
    player->SetFileName(Path("0001 Close.mpcm").c_str());
    ASSERT_EQ(player->PostCommand(kClipCommandOpen), 1);
    player->SetOutputFormat(48000, DEVICEMODE_MONO);
    std::vector<int16_t> buffer(480);
    for (int i = 0; i < 20; ++i) player->Read(buffer.data(), 960);
    player->Close();
    ASSERT_TRUE(player->WaitForCommandSlot());
    EXPECT_EQ(player->GetLengthMs(), 0);
    EXPECT_EQ(player->Read(buffer.data(), 960), 0);
    player.reset();  // joins the thread before its buffers go
}

}  // namespace
