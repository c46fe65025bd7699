// The audio engine on device kind 3: virtual endpoints on the simulated
// clock; the engine's send side is carried to its receive side and what the
// playback endpoint played is checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/AudioEngine.h"
#include "audio/EndpointEnum.h"
#include "common/SharedState.h"
#include "platform/VirtualEndpoints.h"
#include "platform/VirtualWave.h"
#include "support/TempDir.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

AudioFormat Format(int type, int rate, int mode, int frameBytes) {
    AudioFormat f;
    f.codingType = type;
    f.sampleRate = rate;
    f.deviceMode = mode;
    f.frameBytes = frameBytes;
    return f;
}

struct EndpointEngineTest : ::testing::Test {
    EndpointEngineTest() {
        unsetenv("PULSE_SERVER");
        setenv("VELMORA_SETTINGS_FILE", m_dir.File("Velmora.Ini").c_str(), 1);
        m_state.endpointFlag = 1;  // endpoints are configured only on such a platform
        m_state.ntPlatform = 1;
        m_oldState = g_sharedState;
        g_sharedState = &m_state;
    }
    ~EndpointEngineTest() override {
        m_engine.reset();
        g_sharedState = m_oldState;
        EXPECT_EQ(VirtualEndpointClear(), 1);
        unsetenv("VELMORA_SETTINGS_FILE");
    }

    void Use(const char* name, double rateError = 0.0) {
        VirtualEndpointConfig c;
        c.name = name;
        c.simulatedClock = true;
        c.rateErrorPercent = rateError;
        c.toneLevel = 0.5;
        c.sinkSeconds = 4;
        ASSERT_EQ(VirtualEndpointAdd(c), 1);
        CEndpointEnum list(0);
        int index = -1;
        for (int i = 0; i < list.GetCount(); ++i) {
            char text[100];
            if (list.GetName(i, text, sizeof text) && std::string(text) == name) index = i;
        }
        ASSERT_GE(index, 0);
        m_settings.WriteInt("Audio", "Interface", INTERFACE_COREAUDIO);
        m_settings.WriteInt("CoreAudio", "Input", index);
        m_settings.WriteInt("CoreAudio", "Output", index);
        m_engine = std::make_unique<CAudioEngine>();
        ASSERT_EQ(m_engine->Init(0), 1);
    }

    void OpenBothWays(const AudioFormat& f, int inputMode, int outputMode) {
        m_engine->SetSendFormat(&f);
        ASSERT_EQ(m_engine->OpenEncoder(), 1);
        int changed = 0;
        ASSERT_EQ(m_engine->SetReceiveFormat(&f, &changed), 1);
        m_engine->SetDeviceBuffering(inputMode, outputMode, 0);
        m_engine->SetOutputMute(0);
    }

    void Pass(uint32_t ms, int unit, uint32_t unitMs) {
        VirtualWaveAdvanceMs(ms);
        std::vector<uint8_t> buf(static_cast<size_t>(unit));
        for (m_credit += ms; m_credit >= unitMs; m_credit -= unitMs) {
            m_engine->EncodeCapture();
            if (m_engine->GetSendFill() >= unit) {
                m_engine->GetSendData(buf.data(), unit);
                m_link.insert(m_link.end(), buf.begin(), buf.end());
                ++m_carried;
            }
            if (m_link.size() >= static_cast<size_t>(unit)) {
                if (m_engine->GetReceiveSpace() >= unit) m_engine->PutReceiveData(m_link.data(), unit);
                m_link.erase(m_link.begin(), m_link.begin() + unit);  // a link that cannot wait
            }
            m_engine->ProcessPlayback();
        }
    }

    CTempDir m_dir;
    CSettings m_settings{m_dir.File("Velmora.Ini")};
    SharedState m_state;
    SharedState* m_oldState = nullptr;
    std::unique_ptr<CAudioEngine> m_engine;
    std::vector<uint8_t> m_link;
    uint32_t m_credit = 0;
    int64_t m_carried = 0;
};

class EndpointLoopbackTest : public EndpointEngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(EndpointLoopbackTest, ToneArrivesWholeThroughTheEngine) {
    const int mode = GetParam();
    Use("Loop Desk");
    const bool stereo = mode >= 20;
    const int unit = stereo ? 1920 : 960;
    OpenBothWays(Format(CODING_PCM, 48000, mode, unit), 10, 10);
    for (int i = 0; i < 500; ++i) Pass(5, unit, 10);  // 2.5 s

    std::vector<int16_t> sink(2 * 48000 * 3);
    const size_t got = VirtualEndpointReadSink("Loop Desk", 0, sink.data(), sink.size()) / 2;
    ASSERT_GT(got, 48000u * 2);
    size_t onset = 0;
    while (onset < got && std::abs(sink[2 * onset]) < 2000) ++onset;
    ASSERT_LT(onset, got) << "no tone arrived";
    const double delayMs = onset / 48.0;
    std::printf("endpoint loopback: tone after %.1f ms\n", delayMs);
    EXPECT_LT(delayMs, 600.0);
    const size_t from = onset + 2400, to = got - 96;
    ASSERT_GT(to, from + 24000);
    for (size_t w = from; w + 96 < to; w += 96) {
        int peak = 0;
        for (size_t i = w; i < w + 96; ++i) peak = std::max(peak, std::abs(int(sink[2 * i])));
        ASSERT_GT(peak, 12000) << "gap at frame " << w;
    }
    int windows = 0, clean = 0;
    for (size_t w = from; w + 480 <= to; w += 480) {
        ++windows;
        if (mode == DEVICEMODE_MONO_MIX) {
            // The mean of both inputs: 1000 and 1500 Hz at half the level each.
            const ToneFit a = FitTone(sink.data(), w, 480, 2, 0, 1000.0, 48000.0);
            const ToneFit b = FitTone(sink.data(), w, 480, 2, 1, 1500.0, 48000.0);
            EXPECT_NEAR(a.amplitude, 0.25 * 32767, 0.25 * 32767 * 0.02);
            EXPECT_NEAR(b.amplitude, 0.25 * 32767, 0.25 * 32767 * 0.02);
            ++clean;
            continue;
        }
        const ToneFit l = FitTone(sink.data(), w, 480, 2, 0, 1000.0, 48000.0);
        const ToneFit r = FitTone(sink.data(), w, 480, 2, 1, stereo ? 1500.0 : 1000.0, 48000.0);
        EXPECT_NEAR(l.amplitude, 0.5 * 32767, 0.5 * 32767 * 0.01) << "window " << w;
        EXPECT_NEAR(r.amplitude, 0.5 * 32767, 0.5 * 32767 * 0.01) << "window " << w;
        if (Db(l.residualRms / l.amplitude) < -20 && Db(r.residualRms / r.amplitude) < -20) ++clean;
    }
    EXPECT_GE(clean, windows * 95 / 100);
    int l = 0, r = 0;
    m_engine->GetLevels(0, &l, &r);
    EXPECT_GT(l, 10000);
    m_engine->GetLevels(1, &l, &r);
    EXPECT_GT(l, 10000);
}

INSTANTIATE_TEST_SUITE_P(Modes, EndpointLoopbackTest,
                         ::testing::Values(DEVICEMODE_STEREO, DEVICEMODE_MONO, DEVICEMODE_MONO_MIX),
                         [](const ::testing::TestParamInfo<int>& i) { return "Mode" + std::to_string(i.param); });

TEST_F(EndpointEngineTest, MissingEndpointGivesTheOpenFailure) {
    Use("Only Desk");
    m_settings.WriteInt("CoreAudio", "Output", 999);
    m_engine = std::make_unique<CAudioEngine>();
    ASSERT_EQ(m_engine->Init(0), 1);
    const AudioFormat f = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 1920);
    int changed = 0;
    EXPECT_EQ(m_engine->SetReceiveFormat(&f, &changed), 0);
    EXPECT_EQ(m_engine->GetDecodeType(), CODING_PCM);  // the codec side stays selected
    m_engine->SetSendFormat(&f);
    EXPECT_EQ(m_engine->OpenEncoder(), 1);  // the input endpoint exists
}

class EndpointDriftTest : public EndpointEngineTest, public ::testing::WithParamInterface<double> {};

// Ten simulated minutes with the endpoints' clock 0.5 % off the connection's:
// every FIFO and queue stays within its bounds and the link keeps carrying.
TEST_P(EndpointDriftTest, FillsStayBoundedForTenMinutes) {
    const double e = GetParam();
    Use(e > 0 ? "Fast Desk" : "Slow Desk", e);
    constexpr int kUnit = 1920;
    OpenBothWays(Format(CODING_PCM, 48000, DEVICEMODE_STEREO, kUnit), 10, 10);
    CEndpointOutDevice& out = m_engine->EndpointOut();
    CEndpointInDevice& in = m_engine->EndpointIn();
    int maxQueued = 0, maxIn = 0, maxSend = 0, maxReceive = 0, maxPlayback = 0;
    constexpr int kSeconds = 600;
    for (int pass = 0; pass < kSeconds * 100; ++pass) {
        Pass(10, kUnit, 10);
        maxQueued = std::max(maxQueued, out.GetBuffered());
        maxIn = std::max(maxIn, in.GetFill());
        maxSend = std::max(maxSend, m_engine->GetSendFill());
        maxReceive = std::max(maxReceive, m_engine->GetReceiveFill());
        maxPlayback = std::max(maxPlayback, m_engine->GetPlaybackFill());
    }
    VirtualEndpointStats stats;
    ASSERT_EQ(VirtualEndpointGetStats(e > 0 ? "Fast Desk" : "Slow Desk", &stats), 1);
    std::printf("queue up to %d (high mark %d), input FIFO up to %d of %d; inserted %lld dropped %lld, "
                "played %llu with %llu silent, captured %llu with %llu lost, carried %lld units\n",
                maxQueued, out.GetHighMark(), maxIn, in.GetTarget(), (long long)out.GetInsertedFrames(),
                (long long)out.GetDroppedFrames(), (unsigned long long)stats.framesPlayed,
                (unsigned long long)stats.underrunFrames, (unsigned long long)stats.framesCaptured,
                (unsigned long long)stats.overrunFrames, (long long)m_carried);
    EXPECT_LE(maxQueued, 50 * out.GetBlockBytes());  // the 50 blocks the client was opened with
    EXPECT_LE(maxIn, in.GetTarget());
    EXPECT_LE(maxSend, m_engine->GetSendLimit());
    EXPECT_LE(maxReceive, m_engine->GetReceiveLimit());
    EXPECT_LE(maxPlayback, m_engine->GetPlaybackLimit());
    EXPECT_GT(m_carried, kSeconds * 100 * (e > 0 ? 99 : 98) / 100);
    EXPECT_EQ(stats.overrunFrames, 0u);  // the engine keeps draining the client
}

INSTANTIATE_TEST_SUITE_P(PlusMinusHalfPercent, EndpointDriftTest, ::testing::Values(0.5, -0.5),
                         [](const ::testing::TestParamInfo<double>& i) {
                             return std::string(i.param > 0 ? "EndpointFast" : "EndpointSlow");
                         });

}  // namespace
