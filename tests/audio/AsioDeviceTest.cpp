// The ASIO device on virtual drivers: the driver list, opening and its
// failures, block sizes, silence periods, underruns and the driver messages.
#include "audio/AsioDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/Records.h"
#include "platform/Clock.h"
#include "platform/VirtualAsio.h"
#include "platform/VirtualWave.h"
#include "support/TempDir.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

struct AsioDeviceTest : ::testing::Test {
    // A registry of the test's own: driver indexes depend on what it lists.
    void SetUp() override { setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1); }
    void TearDown() override { EXPECT_EQ(VirtualAsioClear(), 1); }

    VirtualAsioConfig Driver(const char* name) {
        VirtualAsioConfig c;
        c.name = name;
        c.simulatedClock = true;
        c.sinkSeconds = 4;
        return c;
    }
    // Lists the drivers and selects the one of that name; its index or -1.
    int Select(CAsioDevice& d, const char* name, int firstInput = 0, int firstOutput = 0) {
        EXPECT_EQ(d.EnumerateDrivers(), 1);
        for (int i = 0; i < d.GetDriverCount(); ++i) {
            char text[128];
            if (d.GetDriverName(i, text, sizeof text) && std::string(text) == name) {
                d.SelectDriver(i, firstInput, firstOutput);
                return i;
            }
        }
        return -1;
    }

    CTempDir m_dir;
    CSimClock m_clock;  // the 250 ms pauses after a release pass at once
};

TEST_F(AsioDeviceTest, ListsJackAndVirtualDriversAndCutsLongNames) {
    ASSERT_EQ(VirtualAsioAdd(Driver("A very long virtual driver name")), 1);
    CAsioDevice d;
    EXPECT_EQ(d.GetState(), CAsioDevice::kNotListed);
    ASSERT_GE(Select(d, "A very long virtual driver name"), 0);
    EXPECT_EQ(d.GetState(), CAsioDevice::kClosed);
    EXPECT_GE(Select(d, "JACK"), 0);
    const int index = Select(d, "A very long virtual driver name");
    char name[12];
    ASSERT_EQ(d.GetDriverName(index, name, sizeof name), 1);
    EXPECT_STREQ(name, "A very l...");  // width - 4 characters and the dots
    char tiny[3];
    ASSERT_EQ(d.GetDriverName(index, tiny, sizeof tiny), 1);  // too short for dots: no negative cut
    EXPECT_STREQ(tiny, "A ");
    EXPECT_EQ(d.GetDriverName(d.GetDriverCount(), name, sizeof name), 0);
}

TEST_F(AsioDeviceTest, OpenFailuresGiveTheirTextsAndLeaveTheDeviceClosed) {
    VirtualAsioConfig slow = Driver("Rate 44k");
    slow.sampleRate = 44100;
    ASSERT_EQ(VirtualAsioAdd(slow), 1);
    ASSERT_EQ(VirtualAsioAdd(Driver("Two Channels")), 1);
    VirtualAsioConfig big = Driver("Big Blocks");
    big.maxSize = 8192;
    ASSERT_EQ(VirtualAsioAdd(big), 1);

    CAsioDevice d;
    EXPECT_EQ(d.Open(nullptr, 0), 0);  // never listed
    ASSERT_GE(Select(d, "Rate 44k"), 0);
    EXPECT_EQ(d.Open(nullptr, 0), 0);
    EXPECT_STREQ(d.GetErrorText(), "Unable to set ASIO samplerate.");
    EXPECT_EQ(d.GetState(), CAsioDevice::kClosed);

    d.SelectDriver(Select(d, "Two Channels"), 1, 0);  // inputs 1 and 2 of two
    EXPECT_EQ(d.Open(nullptr, 0), 0);
    EXPECT_STREQ(d.GetErrorText(), "Unable to prepare the ASIO device.");

    d.SelectDriver(d.GetDriverCount() + 3, 0, 0);
    EXPECT_EQ(d.Open(nullptr, 0), 0);
    EXPECT_STREQ(d.GetErrorText(), "ASIO device does not exist or is already open.");

    // 100 ms blocks are 4800 frames: more than the capture FIFO holds.
    ASSERT_GE(Select(d, "Big Blocks"), 0);
    d.SetBlockSetting(100);
    EXPECT_EQ(d.Open(nullptr, 0), 0);
    EXPECT_NE(std::string(d.GetErrorText()).find("larger than the capture buffer"), std::string::npos);
    d.SetBlockSetting(48);  // 2304 frames: exactly what it holds
    ASSERT_EQ(d.Open(nullptr, 0), 1);
    EXPECT_EQ(d.GetBlockSamples(), 2304);
    EXPECT_STREQ(d.GetErrorText(), "");

    // Each driver is opened once at a time.
    CAsioDevice other;
    ASSERT_GE(Select(other, "Big Blocks"), 0);
    EXPECT_EQ(other.Open(nullptr, 0), 0);
    EXPECT_STREQ(other.GetErrorText(), "ASIO device does not exist or is already open.");
}

TEST_F(AsioDeviceTest, BlocksAreClampedToTheDriversLimits) {
    VirtualAsioConfig c = Driver("Limits");
    c.minSize = 256;
    c.maxSize = 1024;
    c.preferredSize = 512;
    ASSERT_EQ(VirtualAsioAdd(c), 1);
    for (auto [setting, expected] : {std::pair{4, 256}, {8, 384}, {30, 1024}}) {
        CAsioDevice d;
        ASSERT_GE(Select(d, "Limits"), 0);
        d.SetBlockSetting(setting);
        ASSERT_EQ(d.Open(nullptr, 1), 1);
        EXPECT_EQ(d.GetState(), CAsioDevice::kProbing);
        EXPECT_EQ(d.GetBlockSamples(), expected) << "block time " << setting;
        EXPECT_EQ(d.Start(), 0);  // a probe never runs
    }
}

TEST_F(AsioDeviceTest, SilencePeriodsAndSizesFollowTheFormat) {
    ASSERT_EQ(VirtualAsioAdd(Driver("Sizes")), 1);
    CAsioDevice d;
    ASSERT_GE(Select(d, "Sizes"), 0);
    d.SetBlockSetting(4);  // 192 frames
    ASSERT_EQ(d.Open(nullptr, 0), 1);
    ASSERT_EQ(d.Start(), 1);
    d.SetCaptureFormat(CODING_PCM, 48000, 20);
    EXPECT_EQ(d.GetCaptureSilence(), 2 * 28800);  // 600 ms of stereo
    EXPECT_EQ(d.GetCaptureCapacity(), 2 * 2304 + 768);
    d.SetCaptureFormat(CODING_PCM, 32000, 20);
    EXPECT_EQ(d.GetCaptureSilence(), 0);  // 32000 / 48000 is 0
    d.SetCaptureMode(0);
    d.SetCaptureFormat(CODING_PCM, 48000, 10);
    EXPECT_EQ(d.GetCaptureHighMark(), std::max(2 * 384, 2304 / 3) + 4);
    d.SetPlaybackMode(10, 0);
    d.SetPlaybackFormat(CODING_PCM, 48000, 10);
    EXPECT_EQ(d.GetPlaySilence(), 17280);  // 360 ms of mono
    EXPECT_EQ(d.GetPlayFill(), d.GetPlayCapacity());  // starts full of silence
    EXPECT_EQ(d.GetPlayCapacity(), CAsioDevice::kPlayFifoBytes);
    EXPECT_EQ(d.GetPlayHighMark(), (13312 - 1) * 4 - 384);
    EXPECT_EQ(d.GetPlayLowMark(), d.GetPlayHighMark() - 3 * 384);
    EXPECT_EQ(d.IsMuted(), 1);
    d.SetPlaybackMode(0, 0);
    EXPECT_EQ(d.GetPlayCapacity(), 3 * 384 + 4);
    d.SetPlaybackMode(30, 0);
    EXPECT_EQ(d.GetPlayCapacity(), 4610);
    EXPECT_EQ(d.IsMuted(), 0);
    EXPECT_EQ(d.Stop(), 1);
    EXPECT_EQ(d.GetState(), CAsioDevice::kPrepared);
}

// Sample types 16 and 18: what goes in at the input comes out of Read with
// its level, and the first 600 ms are silence.
class AsioSampleTypeTest : public AsioDeviceTest, public ::testing::WithParamInterface<long> {};

TEST_P(AsioSampleTypeTest, CaptureDeliversTheToneAfterItsSilence) {
    VirtualAsioConfig c = Driver("Typed");
    c.sampleType = GetParam();
    c.toneLevel = 0.25;
    ASSERT_EQ(VirtualAsioAdd(c), 1);
    CAsioDevice d;
    ASSERT_GE(Select(d, "Typed"), 0);
    ASSERT_EQ(d.Open(nullptr, 0), 1);
    EXPECT_EQ(d.GetSampleType(0), GetParam());
    ASSERT_EQ(d.Start(), 1);
    d.SetCaptureMode(10);
    d.SetCaptureFormat(CODING_PCM, 48000, 20);
    std::vector<int16_t> got;
    std::vector<int16_t> buf(4096);
    for (int i = 0; i < 300; ++i) {  // 1.5 s
        VirtualWaveAdvanceMs(5);
        d.ServiceCapture();
        const int n = d.Read(buf.data(), 960);
        got.insert(got.end(), buf.begin(), buf.begin() + n / 2);
    }
    ASSERT_GT(got.size(), 2u * 48000);
    size_t onset = 0;
    while (onset < got.size() / 2 && got[2 * onset] == 0 && got[2 * onset + 1] == 0) ++onset;
    EXPECT_NEAR(onset / 48.0, 600.0, 5.0);  // ms of silence
    const size_t frames = got.size() / 2 - onset - 100;
    const ToneFit left = FitTone(got.data(), onset + 100, frames, 2, 0, 1000.0, 48000.0);
    const ToneFit right = FitTone(got.data(), onset + 100, frames, 2, 1, 1500.0, 48000.0);
    EXPECT_NEAR(left.amplitude, 0.25 * 32767, 2.0);
    EXPECT_NEAR(right.amplitude, 0.25 * 32767, 2.0);
    EXPECT_LT(left.residualRms, 2.0);  // nothing lost or doubled
    int l = 0, r = 0;
    d.GetCaptureLevels(&l, &r);
    EXPECT_NEAR(l, 0.25 * 32767, 3);
    EXPECT_NEAR(r, 0.25 * 32767, 3);
}

INSTANTIATE_TEST_SUITE_P(Int16AndInt32, AsioSampleTypeTest, ::testing::Values(16L, 18L),
                         [](const ::testing::TestParamInfo<long>& i) {
                             return std::string(i.param == 16 ? "Int16" : "Int32");
                         });

TEST_F(AsioDeviceTest, FourUnderrunsRepeatTheLastBlockThenSilence) {
    ASSERT_EQ(VirtualAsioAdd(Driver("Under")), 1);
    CAsioDevice d;
    ASSERT_GE(Select(d, "Under"), 0);
    d.SetBlockSetting(4);  // 192 frames, 4 ms
    ASSERT_EQ(d.Open(nullptr, 0), 1);
    ASSERT_EQ(d.Start(), 1);
    d.SetPlaybackMode(30, 0);  // clip play: no silence, no drift
    d.SetPlaybackFormat(CODING_PCM, 48000, 20);
    VirtualWaveAdvanceMs(200);  // the initial silence plays out
    d.Service();
    VirtualWaveAdvanceMs(100);
    const auto tone = MakeTone(192 * 8, 2, 750.0, 48000.0, 12000.0);
    ASSERT_EQ(d.Write(tone.data(), static_cast<int>(tone.size() * 2)), static_cast<int>(tone.size() * 2));
    VirtualWaveAdvanceMs(200);
    // Four before the first Service, four after the initial silence, four after the tone.
    EXPECT_EQ(d.GetRepeatedSwitches(), 12u);
    EXPECT_GT(d.GetUnderrunSwitches(), 40u);

    std::vector<int16_t> sink(2 * 48000);
    const size_t n = VirtualAsioReadSink("Under", 0, sink.data(), sink.size()) / 2;
    // Switches cut the sink into blocks of 192 frames: the tone's 8 blocks,
    // then 4 copies of its last block, then silence.
    size_t first = 0;
    while (first < n && sink[2 * first] == 0 && sink[2 * first + 1] == 0) ++first;
    const size_t lastBlock = first / 192 * 192 + 7 * 192;
    ASSERT_LT(lastBlock + 192 * 6, n);
    EXPECT_NE(sink[2 * (lastBlock + 100)], 0);
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(std::memcmp(&sink[2 * lastBlock], &sink[2 * (lastBlock + 192 * k)], 192 * 4), 0) << "repeat " << k;
    for (size_t i = lastBlock + 192 * 5; i < lastBlock + 192 * 6; ++i) ASSERT_EQ(sink[2 * i], 0) << i;
}

// Muted, the FIFO is topped up to its low mark: what that exposes is
// silence, never the audio that stood there before.
TEST_F(AsioDeviceTest, MutedTopUpPlaysSilenceNotStaleAudio) {
    ASSERT_EQ(VirtualAsioAdd(Driver("Stale")), 1);
    CAsioDevice d;
    ASSERT_GE(Select(d, "Stale"), 0);
    d.SetBlockSetting(4);
    ASSERT_EQ(d.Open(nullptr, 0), 1);
    ASSERT_EQ(d.Start(), 1);
    d.SetPlaybackMode(10, 0);
    d.SetPlaybackFormat(CODING_PCM, 48000, 20);
    d.SetOutputMute(0);
    const auto tone = MakeTone(48000, 2, 1000.0, 48000.0, 12000.0);
    size_t pos = 0;
    for (int i = 0; i < 300; ++i) {  // 1.5 s of tone, 5 ms at a time
        VirtualWaveAdvanceMs(5);
        d.Service();  // as the engine's receive pump does before it writes
        pos += static_cast<size_t>(d.Write(tone.data() + pos % 48000, 960)) / 2;
    }
    d.SetOutputMute(1);
    VirtualAsioStats stats;
    ASSERT_EQ(VirtualAsioGetStats("Stale", &stats), 1);
    const size_t muteAt = stats.framesPlayed;
    for (int i = 0; i < 200; ++i) {  // 1 s muted: the FIFO drains and is topped up
        VirtualWaveAdvanceMs(5);
        d.Service();
    }
    std::vector<int16_t> sink(2 * 48000 * 3);
    const size_t n = VirtualAsioReadSink("Stale", 0, sink.data(), sink.size()) / 2;
    ASSERT_GT(n, muteAt + 48000 / 2);
    // The tone played before the mute...
    int before = 0;
    for (size_t i = muteAt - 4800; i < muteAt; ++i) before = std::max(before, std::abs(int(sink[2 * i])));
    EXPECT_GT(before, 10000);
    // ...and after what the ring and the FIFO held, only silence.
    const size_t quiet = muteAt + CAsioDevice::kPlayFifoBytes / 4 + 12 * 192;
    ASSERT_LT(quiet, n);
    for (size_t i = quiet; i < n; ++i) ASSERT_EQ(sink[2 * i], 0) << "stale audio at frame " << i;
}

TEST_F(AsioDeviceTest, DriverMessagesClaimOnlyWhatIsHandled) {
    EXPECT_EQ(CAsioDevice::AsioMessage(kAsioSelectorSupported, kAsioEngineVersion, nullptr, nullptr), 1);
    EXPECT_EQ(CAsioDevice::AsioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr), 1);
    EXPECT_EQ(CAsioDevice::AsioMessage(kAsioSelectorSupported, kAsioBufferSizeChange, nullptr, nullptr), 0);
    EXPECT_EQ(CAsioDevice::AsioMessage(kAsioSelectorSupported, 12, nullptr, nullptr), 0);
    EXPECT_EQ(CAsioDevice::AsioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    // No reset, resync or latency handling: never answered as done.
    for (long s : {kAsioResetRequest, kAsioResyncRequest, kAsioLatenciesChanged}) {
        EXPECT_EQ(CAsioDevice::AsioMessage(kAsioSelectorSupported, s, nullptr, nullptr), 0) << s;
        EXPECT_EQ(CAsioDevice::AsioMessage(s, 0, nullptr, nullptr), 0) << s;
    }
    EXPECT_EQ(CAsioDevice::AsioMessage(kAsioSupportsTimeCode, 0, nullptr, nullptr), 1);
    // A buffer switch with no device published does nothing.
    CAsioDevice::BufferSwitch(0, ASIOTrue);
}

}  // namespace
