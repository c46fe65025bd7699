// The endpoint devices and holders on virtual endpoints: listing, volume,
// block times, the start rules, the silence periods and the stretching
// buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/EndpointEnum.h"
#include "audio/EndpointInDevice.h"
#include "audio/EndpointOutDevice.h"
#include "audio/EndpointVolume.h"
#include "common/Records.h"
#include "platform/VirtualEndpoints.h"
#include "platform/VirtualWave.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

struct EndpointDeviceTest : ::testing::Test {
    // The virtual endpoints come first: with no server named, only they.
    void SetUp() override { unsetenv("PULSE_SERVER"); }
    void TearDown() override { EXPECT_EQ(VirtualEndpointClear(), 1); }

    int Add(const char* name, int blockTimeMs = 0, double toneLevel = 0.5) {
        VirtualEndpointConfig c;
        c.name = name;
        c.simulatedClock = true;
        c.blockTimeMs = blockTimeMs;
        c.toneLevel = toneLevel;
        c.sinkSeconds = 4;
        EXPECT_EQ(VirtualEndpointAdd(c), 1);
        CEndpointEnum list(0);
        for (int i = 0; i < list.GetCount(); ++i) {
            char text[100];
            if (list.GetName(i, text, sizeof text) && std::string(text) == name) return i;
        }
        return -1;
    }
};

TEST_F(EndpointDeviceTest, ListsTheVirtualEndpointsWithTheirVolumes) {
    const int a = Add("Desk A"), b = Add("Desk B");
    EXPECT_EQ(b, a + 1);
    CEndpointEnum capture(1);
    char name[100];
    ASSERT_EQ(capture.GetName(b, name, sizeof name), 1);
    EXPECT_STREQ(name, "Desk B");
    char tiny[4];
    EXPECT_EQ(capture.GetName(b, tiny, sizeof tiny), 0);  // never cut
    EXPECT_EQ(capture.GetName(capture.GetCount(), name, sizeof name), 0);
    EXPECT_GE(capture.GetDefaultIndex(), 0);

    CEndpointVolume out(0, b), in(1, b);
    ASSERT_TRUE(out.IsValid());
    out.SetMasterVolume(0.25f);
    in.SetMasterVolume(0.75f);
    EXPECT_FLOAT_EQ(out.GetMasterVolume(), 0.25f);
    EXPECT_FLOAT_EQ(in.GetMasterVolume(), 0.75f);
    CEndpointVolume none(0, 999);
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(none.GetMasterVolume(), 0.0f);
}

TEST_F(EndpointDeviceTest, AnotherBlockTimeResizesBeforeTheFirstWriteAndPlaybackStartsWhenQueued) {
    const int desk = Add("Desk", 10);
    CEndpointOutDevice out;
    ASSERT_EQ(out.Allocate(3), 1);
    out.SelectEndpoint(desk);
    out.SetFormat(CODING_PCM, 48000, 48000, DEVICEMODE_STEREO);
    EXPECT_EQ(out.GetBlockBytes(), 3 * 192);
    ASSERT_EQ(out.Open(), 1);
    EXPECT_EQ(out.GetBlockMs(), 10);  // the client's own
    EXPECT_EQ(out.GetBlockBytes(), 1920);
    EXPECT_EQ(out.GetHighMark(), 43 * 1920);
    EXPECT_EQ(out.GetLowMark(), 43 * 1920 - 2 * 6912);
    out.SetBufferingMode(10, 0);
    const auto tone = MakeTone(4800, 2, 1000.0, 48000.0, 8000.0);
    int writes = 0;
    while (!out.IsStarted() && writes < 200) {
        const int n = out.Write(tone.data(), 1920);
        ASSERT_GE(n, 0);
        if (n == 0) out.Service();
        ++writes;
    }
    ASSERT_TRUE(out.IsStarted());
    // Started with less than three of the 50 blocks of room left in the queue.
    EXPECT_GT(out.GetBuffered(), 47 * 1920);
    out.Close();
}

TEST_F(EndpointDeviceTest, IsdnModeStartsAboveTheLowMarkAndCloseEndsTheClient) {
    const int desk = Add("Isdn Desk");
    CEndpointOutDevice out;
    ASSERT_EQ(out.Allocate(3), 1);
    out.SelectEndpoint(desk);
    out.SetBufferingMode(0, 0);
    out.SetFormat(CODING_PCM, 48000, 48000, DEVICEMODE_STEREO);
    ASSERT_EQ(out.Open(), 1);
    EXPECT_EQ(out.GetLowMark(), 3 * 576);
    const auto tone = MakeTone(480, 2, 1000.0, 48000.0, 8000.0);
    out.Write(tone.data(), 1152);
    EXPECT_FALSE(out.IsStarted());  // 576 bytes buffered: not above 1728
    out.Write(tone.data(), 1920);
    out.Service();
    EXPECT_TRUE(out.IsStarted());
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    // TearDown: no client is left behind.
}

TEST_F(EndpointDeviceTest, CaptureStartsSilentThenDeliversTheTone) {
    const int desk = Add("Mic Desk", 0, 0.25);
    CEndpointInDevice in;
    ASSERT_EQ(in.Allocate(3, 15), 1);
    EXPECT_EQ(in.GetOpenCount(), 25);  // at least 75 ms of blocks
    in.SelectEndpoint(desk);
    in.SetFormat(48000, 48000, DEVICEMODE_STEREO);
    ASSERT_EQ(in.Open(), 1);
    std::vector<int16_t> got, buf(4096);
    for (int i = 0; i < 200; ++i) {  // 1 s
        VirtualWaveAdvanceMs(5);
        const int n = in.Read(buf.data(), 1920);
        got.insert(got.end(), buf.begin(), buf.begin() + n / 2);
    }
    ASSERT_GT(got.size(), 2u * 24000);
    size_t onset = 0;
    while (onset < got.size() / 2 && got[2 * onset] == 0 && got[2 * onset + 1] == 0) ++onset;
    // The FIFO starts at its target with silence, then 10 deliveries (of the
    // endpoint's 5 ms periods) are zeroed.
    EXPECT_NEAR(onset / 48.0, in.GetTarget() / 192.0 + 10 * 5, 6.0);
    const ToneFit left = FitTone(got.data(), got.size() / 2 - 9600, 9600, 2, 0, 1000.0, 48000.0);
    const ToneFit right = FitTone(got.data(), got.size() / 2 - 9600, 9600, 2, 1, 1500.0, 48000.0);
    EXPECT_NEAR(left.amplitude, 0.25 * 32767, 2);
    EXPECT_NEAR(right.amplitude, 0.25 * 32767, 2);
    EXPECT_LT(left.residualRms, 2.0);
}

TEST_F(EndpointDeviceTest, UnconvertibleRatesFailTheOpenWithAText) {
    const int desk = Add("Odd Desk");
    CEndpointInDevice in;
    ASSERT_EQ(in.Allocate(3, 15), 1);
    in.SelectEndpoint(desk);
    in.SetFormat(48000, 11025, DEVICEMODE_MONO);
    EXPECT_EQ(in.Open(), 0);
    EXPECT_EQ(in.GetErrorText(), "Input device error: The audio format is not supported.");
    CEndpointOutDevice out;
    ASSERT_EQ(out.Allocate(3), 1);
    out.SelectEndpoint(desk);
    out.SetFormat(CODING_PCM, 48000, 11025, DEVICEMODE_MONO);
    EXPECT_EQ(out.Open(), 0);
    EXPECT_EQ(out.GetErrorText(), "Output device error: The audio format is not supported.");
}

TEST_F(EndpointDeviceTest, IsdnStretchOfAFullReadBufferStaysInside) {
    const int desk = Add("Stretch Desk");
    CEndpointInDevice in;
    ASSERT_EQ(in.Allocate(3, 15), 1);
    in.SelectEndpoint(desk);
    in.SetBufferingMode(0);
    in.SetFormat(48000, 48000, DEVICEMODE_STEREO);
    ASSERT_EQ(in.Open(), 1);
    std::vector<int16_t> buf(8192);
    in.Read(buf.data(), 4);  // starts the client
    for (int i = 0; i < 12; ++i) in.Read(buf.data(), 1152);  // past the silent blocks
    for (int round = 0; round < 5; ++round) {
        VirtualWaveAdvanceMs(100);  // more than one read buffer waits
        EXPECT_GT(in.RequestStretch(), 0);
        in.Read(buf.data(), 8192);
        EXPECT_LE(in.GetFill(), in.GetTarget());
    }
}

}  // namespace
