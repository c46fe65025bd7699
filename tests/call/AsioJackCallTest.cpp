// A station on ASIO over a JACK server of the test's own calls a second
// station (virtual WAVE device) over TCP. The station's JACK ports appear,
// and a sine played into them comes out of the far station at its level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "CallHarness.h"
#include "audio/AudioEngine.h"
#include "audio/ToneAnalysis.h"
#include "call/AudioEngineBinding.h"
#include "platform/VirtualWave.h"
#include "support/JackServer.h"
#include "support/JackTonePlayer.h"

namespace {

bool HaveTools() {
    int code = -1;
    RunCommand("command -v jackd jack_lsp jack_wait > /dev/null 2>&1", &code);
    return code == 0;
}

// Starts a station on the real audio engine; its settings file is named
// before the engine reads it.
void StartOnAudioEngine(CStation& s) {
    setenv("VELMORA_SETTINGS_FILE", s.settingsPath.c_str(), 1);
    s.engine = std::make_unique<CCallEngine>(CAudioEngineBinding<CAudioEngine>::Factory(), s.settings);
    ASSERT_EQ(s.engine->Start("Velmora", 1), 1);
    ASSERT_EQ(s.engine->SetMainWindow(s.sink.Handle()), 1);
    unsetenv("VELMORA_SETTINGS_FILE");
}

int AsioCard(const char* name) {
    CAsioDevice list;
    list.EnumerateDrivers();
    for (int i = 0; i < list.GetDriverCount(); ++i) {
        char text[128];
        if (list.GetDriverName(i, text, sizeof text) && std::string(text) == name) return i;
    }
    return -1;
}

int WaveCard(const char* name) {
    for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && std::string(caps.szPname) == name)
            return static_cast<int>(i);
    }
    return -1;
}

TEST(AsioJackCallTest, ToneIntoTheStationsJackPortsReachesTheFarStation) {
    if (!HaveTools()) GTEST_SKIP() << "jackd, jack_lsp or jack_wait missing (tools/setup-debian.sh installs them)";
    CTempDir dir;
    setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
    CJackServer jack;
    ASSERT_TRUE(jack.Start(dir.File("jackd.log"))) << jack.Log();

    VirtualWaveConfig far;
    far.name = "Far End";
    far.toneHz = 440;
    far.toneLevel = 0.25;
    far.sinkSeconds = 60;
    ASSERT_EQ(VirtualWaveAdd(far), 1);

    CStation a(dir, "Studio A", TestPort(0)), b(dir, "Studio B", TestPort(1));
    const int card = AsioCard("JACK");
    ASSERT_GE(card, 0);
    a.settings.WriteInt("Audio", "Interface", INTERFACE_ASIO);
    a.settings.WriteInt("ASIO", "Card", card);
    b.settings.WriteInt("Audio", "Interface", INTERFACE_WAVE);
    b.settings.WriteInt("Rec", "Card", WaveCard("Far End"));
    b.settings.WriteInt("Play", "Card", WaveCard("Far End"));
    StartOnAudioEngine(a);
    StartOnAudioEngine(b);
    ASSERT_TRUE(a.WaitState(16));
    ASSERT_TRUE(b.WaitState(16));
    ASSERT_TRUE(a.engine->Connect(TcpEntry(b.port, CODING_PCM, 48000, DEVICEMODE_STEREO)));
    ASSERT_TRUE(a.WaitState(50, 10000)) << a.Dump();
    ASSERT_TRUE(b.WaitState(50, 10000)) << b.Dump();

    const std::string ports = jack.Ports();
    for (const char* port : {"Velmora:in_1", "Velmora:in_2", "Velmora:out_1", "Velmora:out_2"})
        EXPECT_NE(ports.find(port), std::string::npos) << port << " not in:\n" << ports;

    // Half full scale (a 16-bit peak of 16384), until the test stops it: a
    // busy machine may take a while to carry it through.
    const double expected = 0.5 * 32768;
    CJackTonePlayer player;
    ASSERT_TRUE(player.Start({"Velmora:in_1", "Velmora:in_2"}, 1000.0, 0.5)) << player.Error() << jack.Log();

    // Waits for the tone at the far end: the last half second that the far
    // station played carries 1 kHz at the sent level, judged in 10 ms windows
    // (the two stations' clocks differ, and the devices correct that by
    // single frames), three looks running.
    std::vector<int16_t> heard(48000);
    int good = 0, clean = 0;
    double level = 0;
    for (int tries = 0; tries < 900 && good < 3; ++tries) {
        VirtualWaveStats stats;
        ASSERT_EQ(VirtualWaveGetStats("Far End", 1, &stats), 1);
        const size_t frames = stats.framesPlayed;
        if (frames > 48000 &&
            VirtualWaveReadSink("Far End", 2 * (frames - 24000), heard.data(), heard.size()) == heard.size()) {
            clean = 0;
            level = 0;
            for (int w = 0; w < 50; ++w) {
                const ToneFit fit = FitTone(heard.data(), static_cast<size_t>(w) * 480, 480, 2, w % 2, 1000.0, 48000.0);
                level += fit.amplitude / 50;
                if (std::fabs(Db(fit.amplitude / expected)) < 0.5 && Db(fit.residualRms / fit.amplitude) < -20) ++clean;
            }
            good = clean >= 45 ? good + 1 : 0;
        }
        if (good < 3) a.WaitFor(WM_NULL, -1, 100);  // a bounded wait for the next look
    }
    EXPECT_EQ(good, 3) << clean << " of 50 windows carried the tone, mean level " << level << "\n" << jack.Log();
    std::printf("far end: %.0f peak at 1 kHz (sent %.0f), %d of 50 windows clean\n", level, expected, clean);

    player.Stop();
    ASSERT_TRUE(a.engine->Disconnect());
    ASSERT_TRUE(a.WaitState(16, 10000));
    a.engine.reset();
    b.engine.reset();
    EXPECT_EQ(VirtualWaveClear(), 1);
}

}  // namespace
