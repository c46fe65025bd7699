#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/WaveDeviceInfo.h"
#include "audio/WaveInDevice.h"
#include "audio/WaveOutDevice.h"
#include "common/Translator.h"
#include "platform/VirtualWave.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

TEST(WaveOutSizesTest, BlockAndFifoSizesFollowTheBlockTime) {
    CWaveOutDevice d;
    ASSERT_EQ(d.Allocate(10, 1), 1);
    d.SetFormat(48000, 20);
    EXPECT_EQ(d.GetBlockBytes(), 4224);  // 22 ms stereo
    EXPECT_EQ(d.GetWriteThreshold(), 4608);
    EXPECT_EQ(d.GetFifoCapacity(), 12 * 4224);
    d.SetBufferingMode(0, 0);
    EXPECT_EQ(d.GetFifoCapacity(), 4608 + 2 * 4224);  // raised to threshold + 2 blocks
    d.SetFormat(48000, 10);
    EXPECT_EQ(d.GetBlockBytes(), 2112);

    CWaveOutDevice big;
    ASSERT_EQ(big.Allocate(73, 1), 1);
    big.SetFormat(48000, 10);
    EXPECT_EQ(big.GetBlockBytes(), 8160);  // 85 ms mono: at the limit, kept
    ASSERT_EQ(big.Allocate(74, 1), 1);
    big.SetFormat(48000, 10);
    EXPECT_EQ(big.GetBlockBytes(), 8192);  // 8256 is fixed at 8192
    big.SetFormat(48000, 20);
    EXPECT_EQ(big.GetBlockBytes(), 8192);
    EXPECT_EQ(big.GetFifoCapacity(), CWaveOutDevice::kMaxFifo);

    CWaveOutDevice negative;
    ASSERT_EQ(negative.Allocate(-500, 1), 1);  // clamped like the input side
    negative.SetFormat(48000, 10);
    EXPECT_EQ(negative.GetBlockBytes(), 12 * 96);
}

TEST(WaveOutSizesTest, SteeredModeSetsACorrectionOnlyWhenNonePending) {
    CWaveOutDevice d;
    ASSERT_EQ(d.Allocate(10, 1), 1);
    d.SetFormat(48000, 20);
    d.SetBufferingMode(20, 1);
    EXPECT_EQ(d.GetDrift(), 4224 + 1056);
    d.SetBufferingMode(20, -1);
    EXPECT_EQ(d.GetDrift(), 4224 + 1056);  // one correction at a time
    d.SetBufferingMode(10, 0);
    CWaveOutDevice e;
    ASSERT_EQ(e.Allocate(10, 1), 1);
    e.SetFormat(48000, 20);
    e.SetBufferingMode(20, -1);
    EXPECT_EQ(e.GetDrift(), -4224);
}

TEST(WaveInSizesTest, BlocksTargetsAndMarks) {
    CWaveInDevice d;
    ASSERT_EQ(d.Allocate(10, 1, 1), 1);  // 24 ms, at least 3 blocks
    d.SetFormat(16000, 20);
    EXPECT_EQ(d.GetDeviceBlockBytes(), 24 * 2 * 48000 / 500);
    EXPECT_EQ(d.GetEngineBlockBytes(), 24 * 2 * 16000 / 500);
    EXPECT_EQ(d.GetFifoHighMark(), std::min(2 * 2304, 1536) + 4);
    EXPECT_EQ(d.GetFifoTarget(), 4 + 2 * 1536);
    d.SetFormat(44100, 20);  // 4233.6 bytes: whole frames only
    EXPECT_EQ(d.GetEngineBlockBytes() % 4, 0);
    d.SetFormat(0, 10);
    EXPECT_EQ(d.GetEngineBlockBytes(), 0);
    EXPECT_EQ(d.Open(), 0);  // rate 0 cannot be converted: refused with a reason
    ASSERT_NE(d.GetErrorText(), nullptr);
    EXPECT_STREQ(d.GetErrorText(), "Input device error: The audio format is not supported.");
}

TEST(WaveTextsTest, OneTableForBothDirections) {
    CTranslator t;
    EXPECT_EQ(WaveOpenErrorText(true, 0, t), "");
    EXPECT_EQ(WaveOpenErrorText(true, 2, t),
              "Output device error: The device selected does not exist, or there is no device selected.");
    EXPECT_EQ(WaveOpenErrorText(false, 4, t),
              "Input device error: Can't support full-duplex audio, or is already in use by another application.");
    EXPECT_EQ(WaveOpenErrorText(true, 6, t), "Output device error: The driver for the device is not properly installed.");
    EXPECT_EQ(WaveOpenErrorText(true, 7, t), "Output device error: Not enough memory.");
    EXPECT_EQ(WaveOpenErrorText(false, 32, t), "Input device error: The audio format is not supported.");
    EXPECT_EQ(WaveOpenErrorText(false, 1, t), "Input device error: Unknown error.");
}

TEST(WaveLevelsTest, LevelWordKeepsTheStateBitsFree) {
    for (auto [l, r] : {std::pair{0, 0}, {32768, 32768}, {32767, 1}, {12345, 32768}}) {
        const DWORD_PTR w = PackLevels(l, r);
        EXPECT_EQ(w & 3, 0u);
        EXPECT_EQ(UnpackLeft(w | 3), l & ~1);
        EXPECT_EQ(UnpackRight(w | 3), r & 0xFFFE);
    }
}

TEST(WaveStretchTest, InsertsWhereNeighboursDifferLeast) {
    int16_t mono[5] = {0, 10, 11, 30};
    EXPECT_EQ(StretchByOneFrame(mono, 8, 1), 10);
    const int16_t monoWant[5] = {0, 10, 10, 11, 30};
    EXPECT_TRUE(std::equal(mono, mono + 5, monoWant));
    int16_t stereo[10] = {0, 100, 10, 90, 11, 95, 40, 0};
    EXPECT_EQ(StretchByOneFrame(stereo, 16, 2), 20);
    const int16_t stereoWant[10] = {0, 100, 10, 90, 10, 92, 11, 95, 40, 0};
    EXPECT_TRUE(std::equal(stereo, stereo + 10, stereoWant));
}

struct WaveDeviceFixture : ::testing::Test {
    void SetUp() override {
        VirtualWaveConfig c;
        c.name = "Dev";
        c.simulatedClock = true;
        c.sinkSeconds = 4;
        c.toneLevel = 0.5;
        ASSERT_EQ(VirtualWaveAdd(c), 1);
        for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
            WAVEOUTCAPSA caps;
            if (waveOutGetDevCapsA(i, &caps, sizeof caps) == 0 && std::string(caps.szPname) == "Dev") m_id = int(i);
        }
    }
    void TearDown() override { EXPECT_EQ(VirtualWaveClear(), 1); }
    int m_id = -1;
};

TEST_F(WaveDeviceFixture, DeviceInfoListsTheVirtualDevice) {
    CWaveDeviceInfo out(0), in(1);
    EXPECT_GE(out.GetDeviceCount(), 1);
    EXPECT_GE(in.GetDeviceCount(), 1);
    char name[8];
    ASSERT_EQ(out.GetDeviceName(m_id, name, sizeof name), 1);
    EXPECT_STREQ(name, "Dev");
    EXPECT_EQ(out.GetDeviceName(9999, name, sizeof name), 0);
    EXPECT_EQ(out.SupportsFormat(m_id), 1);
    EXPECT_EQ(in.SupportsFormat(9999), 0);
}

TEST_F(WaveDeviceFixture, FirstTenOutputBlocksAreSilentAndLevelsFollowThePlayedBlock) {
    CWaveOutDevice d;
    ASSERT_EQ(d.Allocate(10, 1), 1);
    d.SelectCard(m_id);
    d.SetFormat(48000, 10);
    ASSERT_EQ(d.Open(), 1);
    d.SetBufferingMode(0, 0);
    const auto tone = MakeTone(48000 * 2, 1, 500.0, 48000, 20000);
    size_t pos = 0;
    for (int i = 0; i < 200; ++i) {  // 2 s in 10 ms steps
        VirtualWaveAdvanceMs(10);
        while (pos < tone.size()) {
            const int w = d.Write(tone.data() + pos, static_cast<int>(std::min<size_t>(960, tone.size() - pos) * 2));
            if (w <= 0) break;
            pos += static_cast<size_t>(w) / 2;
        }
    }
    int left = -1, right = -1;
    d.GetLevels(&left, &right);
    EXPECT_NEAR(left, 20000, 2);
    EXPECT_EQ(left, right);
    d.Close();
    std::vector<int16_t> sink(48000 * 2);
    const size_t got = VirtualWaveReadSink("Dev", 0, sink.data(), sink.size());
    ASSERT_GT(got, 48000u);
    size_t first = 0;
    while (first < got && sink[first] == 0) ++first;
    // Ten blocks of 1056 frames were replaced by silence: what plays first is
    // the written tone from frame 10 x 1056 on, give or take the few frames
    // the start-up corrections moved.
    const ToneFit fit = FitTone(sink.data(), first + 48, 480, 1, 0, 500.0, 48000.0);
    EXPECT_NEAR(fit.amplitude, 20000, 400);
    const double want = 2 * M_PI * 500.0 * (10 * 1056 + 48) / 48000.0;
    EXPECT_GT(std::cos(fit.phase - want), std::cos(3 * 2 * M_PI * 500.0 / 48000.0));
}

TEST_F(WaveDeviceFixture, CaptureStartsWithSilenceAtItsTargetAndSaturatesGain) {
    CWaveInDevice d;
    ASSERT_EQ(d.Allocate(10, 10, 1), 1);
    d.SelectCard(m_id);
    d.SetFormat(48000, 10);
    d.SetLevel(20);  // x e^2: a half-scale tone would wrap without saturation
    ASSERT_EQ(d.Open(), 1);
    std::vector<int16_t> buf(4608);
    const int first = d.Read(buf.data(), 64);
    EXPECT_EQ(first, 64);
    EXPECT_EQ(d.GetFifoFill(), d.GetFifoTarget() - 64);
    EXPECT_TRUE(std::all_of(buf.begin(), buf.begin() + 32, [](int16_t v) { return v == 0; }));
    // 25 blocks of 24 ms are zeroed; after them the tone comes through.
    int16_t peak = 0;
    bool wrapped = false;
    for (int i = 0; i < 120; ++i) {
        VirtualWaveAdvanceMs(10);
        const int n = d.Read(buf.data(), 960);
        for (int k = 0; k < n / 2; ++k) {
            peak = std::max<int16_t>(peak, buf[k]);
            if (k > 0 && std::abs(buf[k] - buf[k - 1]) > 40000) wrapped = true;
        }
    }
    EXPECT_EQ(peak, 32767);
    EXPECT_FALSE(wrapped);
    int left = 0, right = 0;
    d.GetLevels(&left, &right);
    EXPECT_EQ(left, 32768);  // levels are capped at full scale
    d.Close();
}

}  // namespace
