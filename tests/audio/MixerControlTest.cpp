// The mixer class on the virtual mixer of a virtual WAVE device, and on the
// ALSA simple mixer that ALSA's pulse plugin offers for a PulseAudio server
// of the test's own: lines, controls, values, and change notifications.
#include "audio/MixerControl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/MessageSink.h"
#include "platform/VirtualMixer.h"
#include "platform/VirtualWave.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"

namespace {

int WaveInId(const char* name) {
    for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
        WAVEINCAPSA caps;
        if (waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && std::string(caps.szPname) == name)
            return static_cast<int>(i);
    }
    return -1;
}

struct MixerControlTest : ::testing::Test {
    void SetUp() override {
        VirtualWaveConfig c;
        c.name = "Mixer Desk";
        ASSERT_EQ(VirtualWaveAdd(c), 1);
        m_id = WaveInId("Mixer Desk");
        ASSERT_GE(m_id, 0);
    }
    void TearDown() override { EXPECT_EQ(VirtualWaveClear(), 1); }
    int m_id = -1;
};

TEST_F(MixerControlTest, RecordingDestinationWithSelectorAndSourceLines) {
    CMixerControl m;
    ASSERT_EQ(m.Open(m_id, 1, nullptr), 1);
    ASSERT_EQ(m.GetLineCount(), 3);
    int dest = 0, mic = 0;
    char name[40];
    ASSERT_EQ(m.GetLineInfo(0, &dest, name, kMixerSelector), 1);
    EXPECT_STREQ(name, "Recording");
    EXPECT_EQ(m.GetLineInfo(1, &mic, name, kMixerSelector), 0);  // a source has no selector
    EXPECT_EQ(mic, -1);
    EXPECT_STREQ(name, "");
    ASSERT_EQ(m.GetLineInfo(1, &mic, name, kMixerVolume), 1);
    EXPECT_STREQ(name, "Mic");
    int scratch = 0;
    EXPECT_EQ(m.GetLineInfo(1, &scratch, name, kMixerPeakMeter), 0);  // no peak meters here
    EXPECT_EQ(m.GetLineInfo(7, &scratch, name, 0), 0);

    const int selector = m.GetControlId(dest, kMixerSelector);
    ASSERT_GE(selector, 0);
    EXPECT_EQ(m.GetControlItems(dest, kMixerSelector), 2);
    EXPECT_EQ(m.GetControlId(mic, kMixerSelector), -1);
    MIXERCONTROLDETAILS_LISTTEXTA texts[2];
    ASSERT_EQ(m.GetItemTexts(selector, texts, 2), 1);
    EXPECT_STREQ(texts[0].szName, "Mic");
    EXPECT_STREQ(texts[1].szName, "Line");
    const int chooseLine[2] = {0, -1};
    EXPECT_EQ(m.SetItemValues(selector, chooseLine, 2), 1);

    int lo = -5, hi = -5;
    ASSERT_EQ(m.GetControlRange(mic, kMixerVolume, &lo, &hi), 1);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 65535);
    EXPECT_EQ(m.GetControlRange(mic, kMixerPeakMeter, &lo, &hi), 0);
    EXPECT_EQ(hi, 0);
    EXPECT_EQ(m.SetValue(mic, kMixerVolume, 1234), 1);
    EXPECT_EQ(m.GetValue(mic, kMixerVolume), 1234);
    EXPECT_EQ(m.SetValue(mic, kMixerVolume, 70000), 0);  // out of range
    EXPECT_EQ(m.SetValue(mic, kMixerMute, 1), 1);
    EXPECT_EQ(m.GetValueById(m.GetControlId(mic, kMixerMute)), 1);
    EXPECT_EQ(m.GetValue(mic, kMixerPeakMeter), -1);

    CMixerControl again;  // values belong to the device, not to one opening
    ASSERT_EQ(again.Open(m_id, 1, nullptr), 1);
    EXPECT_EQ(again.GetValue(mic, kMixerVolume), 1234);
}

TEST_F(MixerControlTest, PlaybackDestinationAndMissingDevices) {
    CMixerControl m;
    ASSERT_EQ(m.Open(m_id, 0, nullptr), 1);
    ASSERT_EQ(m.GetLineCount(), 1);
    int master = 0;
    char name[40];
    ASSERT_EQ(m.GetLineInfo(0, &master, name, kMixerVolume), 1);
    EXPECT_STREQ(name, "Master");
    EXPECT_EQ(m.Open(9999, 1, nullptr), 0);
    EXPECT_EQ(m.GetLineCount(), 0);  // nothing kept
}

TEST_F(MixerControlTest, ChangesElsewhereArePostedToTheWindow) {
    CMessageSink window;
    CMixerControl m;
    ASSERT_EQ(m.Open(m_id, 1, window.Handle()), 1);
    int mic = 0;
    char name[40];
    ASSERT_EQ(m.GetLineInfo(1, &mic, name, kMixerVolume), 1);
    ASSERT_EQ(VirtualMixerChange("Mixer Desk", 1, "Mic", 1, 4321), 1);
    MSG msg;
    ASSERT_TRUE(window.Wait(msg, 5000));
    EXPECT_EQ(msg.message, MM_MIXM_CONTROL_CHANGE);
    EXPECT_EQ(m.IsHandle(reinterpret_cast<HMIXER>(msg.wParam)), 1);
    EXPECT_EQ(msg.lParam, m.GetControlId(mic, kMixerVolume));
    EXPECT_EQ(m.GetValueById(static_cast<int>(msg.lParam)), 4321);
    m.Close();
    ASSERT_EQ(VirtualMixerChange("Mixer Desk", 1, "Mic", 1, 1), 1);
    EXPECT_FALSE(window.Take(msg));  // a closed mixer tells nobody
}

TEST(MixerPulseTest, ValuesSetHereAreReadByAmixerAndItsChangesArePosted) {
    int code = -1;
    RunCommand("command -v pulseaudio amixer > /dev/null 2>&1", &code);
    if (code != 0) GTEST_SKIP() << "pulseaudio or amixer missing (tools/setup-debian.sh installs them)";
    CTempDir dir;
    CPulseServer server;
    ASSERT_TRUE(server.Start(dir.Path().string())) << server.Log();
    const int id = WaveInId("pulse");
    if (id < 0) GTEST_SKIP() << "ALSA lists no pulse device (libasound2-plugins)";
    CMessageSink window;
    CMixerControl m;
    ASSERT_EQ(m.Open(id, 1, window.Handle()), 1);
    int capture = -1;
    char name[40];
    for (int i = 0; i < m.GetLineCount(); ++i)
        if (m.GetLineInfo(i, &capture, name, kMixerVolume) && std::string(name) == "Capture") break;
    ASSERT_STREQ(name, "Capture");
    int lo = 0, hi = 0;
    ASSERT_EQ(m.GetControlRange(capture, kMixerVolume, &lo, &hi), 1);
    EXPECT_EQ(hi, 65536);
    ASSERT_EQ(m.SetValue(capture, kMixerVolume, 32768), 1);
    EXPECT_NE(RunCommand("amixer -D pulse sget Capture").find("Capture 32768 [50%]"), std::string::npos)
        << RunCommand("amixer -D pulse sget Capture");
    ASSERT_EQ(m.SetValue(capture, kMixerMute, 1), 1);
    EXPECT_NE(RunCommand("amixer -D pulse sget Capture").find("[off]"), std::string::npos);
    ASSERT_EQ(m.SetValue(capture, kMixerMute, 0), 1);

    // Our own changes were posted too; what amixer changes comes after them.
    MSG msg;
    while (window.Wait(msg, 500)) {
    }
    RunCommand("amixer -D pulse sset Capture 25% > /dev/null", &code);
    ASSERT_EQ(code, 0);
    const int volume = m.GetControlId(capture, kMixerVolume);
    bool heard = false;
    while (!heard && window.Wait(msg, 10000))
        heard = msg.message == MM_MIXM_CONTROL_CHANGE && m.IsHandle(reinterpret_cast<HMIXER>(msg.wParam)) &&
                msg.lParam == volume;
    ASSERT_TRUE(heard);
    EXPECT_EQ(m.GetValueById(volume), 16384);
}

}  // namespace
