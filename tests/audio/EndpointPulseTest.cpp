// The endpoint devices on a PulseAudio server of the test's own (a null sink
// and its monitor): the endpoints listed are the server's, what the station
// plays arrives at the sink's monitor with its tone and level, and the
// master volume the station sets is the one pactl reports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioEngine.h"
#include "audio/EndpointEnum.h"
#include "audio/EndpointVolume.h"
#include "common/SharedState.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

bool HaveTools() {
    int code = -1;
    RunCommand("command -v pulseaudio pactl parec > /dev/null 2>&1", &code);
    return code == 0;
}

// Second column of `pactl list short sinks|sources`.
std::vector<std::string> PactlNames(const char* what) {
    std::vector<std::string> names;
    std::istringstream lines(RunCommand(std::string("pactl list short ") + what + " 2>/dev/null"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream cols(line);
        std::string index, name;
        if (cols >> index >> name) names.push_back(name);
    }
    return names;
}

std::vector<std::string> Listed(int direction) {
    CEndpointEnum e(direction);
    std::vector<std::string> names;
    for (int i = 0; i < e.GetCount(); ++i) {
        char text[200];
        if (e.GetName(i, text, sizeof text)) names.push_back(text);
    }
    return names;
}

int IndexOf(int direction, const std::string& name) {
    const std::vector<std::string> names = Listed(direction);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

struct EndpointPulseTest : ::testing::Test {
    void SetUp() override {
        if (!HaveTools()) GTEST_SKIP() << "pulseaudio, pactl or parec missing (tools/setup-debian.sh installs them)";
        ASSERT_TRUE(m_server.Start(m_dir.Path().string())) << m_server.Log();
    }
    CTempDir m_dir;
    CPulseServer m_server;
};

TEST_F(EndpointPulseTest, ListedEndpointsAreTheServersSinksAndSources) {
    const std::vector<std::string> sinks = Listed(0), sources = Listed(1);
    EXPECT_EQ(sinks, PactlNames("sinks"));
    EXPECT_EQ(sources, PactlNames("sources"));
    ASSERT_EQ(sinks.size(), 1u);
    EXPECT_EQ(sources, std::vector<std::string>{CPulseServer::kMonitor});
    EXPECT_EQ(CEndpointEnum(0).GetDefaultIndex(), 0);
    EXPECT_EQ(CEndpointEnum(1).GetDefaultIndex(), 0);
}

TEST_F(EndpointPulseTest, MasterVolumeSetByTheStationIsSeenByPactl) {
    const int sink = IndexOf(0, CPulseServer::kSink);
    ASSERT_GE(sink, 0);
    CEndpointVolume volume(0, sink);
    ASSERT_TRUE(volume.IsValid());
    volume.SetMasterVolume(0.5f);  // a slider at 50
    EXPECT_NE(RunCommand(std::string("pactl get-sink-volume ") + CPulseServer::kSink).find("50%"), std::string::npos)
        << RunCommand(std::string("pactl get-sink-volume ") + CPulseServer::kSink);
    EXPECT_NEAR(volume.GetMasterVolume(), 0.5f, 0.01f);
    RunCommand(std::string("pactl set-sink-volume ") + CPulseServer::kSink + " 30%");
    EXPECT_NEAR(volume.GetMasterVolume(), 0.3f, 0.01f);
    CEndpointVolume monitor(1, IndexOf(1, CPulseServer::kMonitor));
    monitor.SetMasterVolume(0.75f);
    EXPECT_NE(RunCommand(std::string("pactl get-source-volume ") + CPulseServer::kMonitor).find("75%"),
              std::string::npos);
}

// The station's receive side on device kind 3, fed as fast as the endpoint
// takes it; parec records the null sink's monitor meanwhile.
TEST_F(EndpointPulseTest, WhatTheStationPlaysArrivesAtTheMonitorWithItsToneAndLevel) {
    SharedState state;
    state.endpointFlag = 1;
    SharedState* old = g_sharedState;
    g_sharedState = &state;
    const std::string ini = m_dir.File("Velmora.Ini");
    CSettings settings(ini);
    settings.WriteInt("Audio", "Interface", INTERFACE_COREAUDIO);
    settings.WriteInt("CoreAudio", "Output", IndexOf(0, CPulseServer::kSink));
    settings.WriteInt("CoreAudio", "Input", IndexOf(1, CPulseServer::kMonitor));
    // 10 ms blocks: half a second queued, which a late pass on a loaded
    // machine does not run dry.
    settings.WriteInt("CoreAudio", "BlockTime", 10);
    setenv("VELMORA_SETTINGS_FILE", ini.c_str(), 1);
    auto engine = std::make_unique<CAudioEngine>();
    unsetenv("VELMORA_SETTINGS_FILE");
    ASSERT_EQ(engine->Init(0), 1);

    const std::string recording = m_dir.File("monitor.raw");
    CPeerProcess parec;
    ASSERT_TRUE(parec.Start({"parec", "-d", CPulseServer::kMonitor, "--rate=48000", "--channels=2",
                             "--format=s16le", "--raw", recording},
                            m_dir.File("parec.log")));
    AudioFormat f;
    f.codingType = CODING_PCM;
    f.sampleRate = 32000;  // converted to the endpoint's 48000 on the way
    f.deviceMode = DEVICEMODE_STEREO;
    f.frameBytes = 1280;
    int changed = 0;
    ASSERT_EQ(engine->SetReceiveFormat(&f, &changed), 1) << [&] {
        std::string t;
        engine->GetLastError(t);
        return t;
    }();
    engine->SetDeviceBuffering(10, 10, 0);
    engine->SetOutputMute(0);
    // Three seconds of tone from a link that brings 10 ms every 10 ms, then
    // two of playing out what is queued.
    const auto tone = MakeTone(32000 * 3, 2, 1000.0, 32000.0, 0.5 * 32767);
    size_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(5);
    // A loaded machine may play out late and keep the queue full for a
    // while: the whole tone goes in however long that takes, within a bound.
    const auto bound = start + std::chrono::seconds(60);
    for (auto now = start; (now < end || sent < tone.size()) && now < bound; now = std::chrono::steady_clock::now()) {
        const auto due = static_cast<size_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count() / 10);
        while (sent < due * 640 && sent + 640 <= tone.size() && engine->GetReceiveSpace() >= 1280) {
            engine->PutReceiveData(reinterpret_cast<const uint8_t*>(tone.data() + sent), 1280);
            sent += 640;
        }
        engine->ProcessPlayback();
        if (sent == 640 * 100) {
            int l = 0, r = 0;
            engine->GetLevels(0, &l, &r);
            EXPECT_GT(l, 10000);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the worker's pass
    }
    EXPECT_EQ(sent, tone.size());
    engine.reset();
    g_sharedState = old;
    parec.Stop();

    std::ifstream file(recording, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto* pcm = reinterpret_cast<const int16_t*>(bytes.data());
    const size_t frames = bytes.size() / 4;
    ASSERT_GT(frames, 48000u * 2) << parec.Log();
    // The tone's level after the two converter passes it met: the engine's
    // 32000-to-48000 conversion only (the sink runs at 48000).
    CSampleRateConverter up;
    ASSERT_EQ(up.Init(32000, 2, 48000, 2, 96), 1);
    // The level is the gain of the path, so it is judged on the clean
    // windows: a window that a late pass broke is counted below, not here.
    int windows = 0, clean = 0;
    double level = 0;
    for (size_t w = 0; w + 480 <= frames; w += 480) {
        const ToneFit fit = FitTone(pcm, w, 480, 2, 0, 1000.0, 48000.0);
        if (fit.amplitude < 1000) continue;  // before and after the tone
        ++windows;
        if (Db(fit.residualRms / fit.amplitude) < -20) {
            ++clean;
            level += fit.amplitude;
        }
    }
    ASSERT_GT(windows, 200) << "less than 2 s of tone recorded";
    ASSERT_GT(clean, 0);
    level /= clean;
    std::printf("monitor: %d windows of tone, level %.0f, %d clean\n", windows, level, clean);
    EXPECT_NEAR(Db(level / (0.5 * 32767 * up.GetGain())), 0.0, 0.3);
    // A late pass on a loaded machine may cost a window now and then.
    EXPECT_GE(clean, windows * 85 / 100);
}

}  // namespace
