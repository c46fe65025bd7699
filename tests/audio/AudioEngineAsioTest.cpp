// The audio engine on device kind 2: a virtual ASIO driver on the simulated
// clock plays its tone into the engine, the engine's send side is carried
// to its receive side, and what the driver's outputs played is checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/AudioEngine.h"
#include "platform/Clock.h"
#include "platform/VirtualAsio.h"
#include "platform/VirtualWave.h"
#include "support/TempDir.h"
#include "tests/audio/SrcDesign.h"
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

// The devices correct drift by single frames, so the tone is judged in 10 ms
// windows: level, and what a fit leaves over.
void CheckToneWindows(const int16_t* pcm, size_t from, size_t to, int ch, double freq, double peak,
                      double tolerance = 0.01) {
    int windows = 0, clean = 0;
    for (size_t w = from; w + 480 <= to; w += 480) {
        const ToneFit fit = FitTone(pcm, w, 480, 2, ch, freq, 48000.0);
        ++windows;
        EXPECT_NEAR(fit.amplitude, peak, peak * tolerance) << "window at " << w << " channel " << ch;
        if (Db(fit.residualRms / fit.amplitude) < -20) ++clean;
    }
    EXPECT_GE(clean, windows * 95 / 100) << "channel " << ch;
}

struct AsioEngineTest : ::testing::Test {
    AsioEngineTest() {
        setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1);
        setenv("VELMORA_SETTINGS_FILE", m_dir.File("Velmora.Ini").c_str(), 1);
    }
    ~AsioEngineTest() override {
        m_engine.reset();
        EXPECT_EQ(VirtualAsioClear(), 1);
        unsetenv("VELMORA_SETTINGS_FILE");
    }

    // Adds the driver and makes it the station's ASIO card.
    void Use(const char* name, double rateError = 0.0, long sampleType = 18) {
        VirtualAsioConfig c;
        c.name = name;
        c.simulatedClock = true;
        c.rateErrorPercent = rateError;
        c.sampleType = sampleType;
        c.toneLevel = 0.5;
        c.sinkSeconds = 4;
        ASSERT_EQ(VirtualAsioAdd(c), 1);
        CAsioDevice list;
        ASSERT_EQ(list.EnumerateDrivers(), 1);
        int card = -1;
        for (int i = 0; i < list.GetDriverCount(); ++i) {
            char text[128];
            if (list.GetDriverName(i, text, sizeof text) && std::string(text) == name) card = i;
        }
        ASSERT_GE(card, 0);
        m_settings.WriteInt("Audio", "Interface", INTERFACE_ASIO);
        m_settings.WriteInt("ASIO", "Card", card);
        m_settings.WriteInt("ASIO", "BlockTime", 4);  // 192 frames
        m_engine = std::make_unique<CAudioEngine>();
        ASSERT_EQ(m_engine->Init(0), 1);
        ASSERT_EQ(m_engine->StartAsio(), 1);
    }

    void OpenBothWays(const AudioFormat& f, int inputMode, int outputMode) {
        m_engine->SetSendFormat(&f);
        ASSERT_EQ(m_engine->OpenEncoder(), 1);
        int changed = 0;
        ASSERT_EQ(m_engine->SetReceiveFormat(&f, &changed), 1);
        EXPECT_EQ(changed, 1);
        m_engine->SetDeviceBuffering(inputMode, outputMode, 0);
        m_engine->SetOutputMute(0);
    }

    // One worker pass of `ms`; the link carries one unit every unitMs.
    void Pass(uint32_t ms, int unit, uint32_t unitMs) {
        VirtualWaveAdvanceMs(ms);
        std::vector<uint8_t> buf(static_cast<size_t>(unit));
        for (m_credit += ms; m_credit >= unitMs; m_credit -= unitMs) {
            m_engine->EncodeCapture();
            if (m_engine->GetSendFill() >= unit) {
                m_engine->GetSendData(buf.data(), unit);
                m_link.insert(m_link.end(), buf.begin(), buf.end());
                ++m_carried;
            } else {
                ++m_starved;
            }
            if (m_link.size() >= static_cast<size_t>(unit)) {
                if (m_engine->GetReceiveSpace() >= unit && m_engine->PutReceiveData(m_link.data(), unit)) {
                    m_link.erase(m_link.begin(), m_link.begin() + unit);
                } else if (m_dropRefused) {
                    m_link.erase(m_link.begin(), m_link.begin() + unit);
                    ++m_refused;
                }
            }
            m_engine->ProcessPlayback();
        }
    }

    CTempDir m_dir;
    CSettings m_settings{m_dir.File("Velmora.Ini")};
    CSimClock m_clock;
    std::unique_ptr<CAudioEngine> m_engine;
    std::vector<uint8_t> m_link;
    uint32_t m_credit = 0;
    bool m_dropRefused = false;
    int64_t m_carried = 0, m_starved = 0, m_refused = 0;
};

struct LoopCase {
    long sampleType;
    int mode;
};

class AsioLoopbackTest : public AsioEngineTest, public ::testing::WithParamInterface<LoopCase> {};

// The driver's input tone reaches its outputs through the engine: right
// frequency and level, no gap, a steady delay.
TEST_P(AsioLoopbackTest, ToneArrivesWholeThroughTheEngine) {
    const LoopCase lc = GetParam();
    Use("Loop", 0.0, lc.sampleType);
    const bool stereo = lc.mode >= 20;
    const int unit = stereo ? 1920 : 960;  // 10 ms of PCM
    OpenBothWays(Format(CODING_PCM, 48000, lc.mode, unit), 10, 10);
    for (int i = 0; i < 400; ++i) Pass(5, unit, 10);  // 2 s

    std::vector<int16_t> sink(2 * 48000 * 2);
    const size_t got = VirtualAsioReadSink("Loop", 0, sink.data(), sink.size()) / 2;
    ASSERT_GT(got, 48000u * 3 / 2);
    size_t onset = 0;
    while (onset < got && std::abs(sink[2 * onset]) < 2000) ++onset;
    ASSERT_LT(onset, got) << "no tone arrived";
    // 600 ms of capture silence come first; the playback FIFO then holds
    // audio up to its high mark (about 280 ms of stereo, 550 ms of mono).
    const CAsioDevice& asio = m_engine->Asio();
    const double fifoMs = asio.GetPlayHighMark() / (2.0 * (stereo ? 2 : 1) * 48.0);
    const double delayMs = onset / 48.0 - 600.0;
    std::printf("ASIO loopback delay %.1f ms (playback FIFO mark %.1f ms)\n", delayMs, fifoMs);
    EXPECT_GT(delayMs, 0.0);
    EXPECT_LT(delayMs, fifoMs + 100.0);
    const size_t from = onset + 960, to = got - 96;
    ASSERT_GT(to, from + 19200);
    for (size_t w = from; w + 96 < to; w += 96) {
        int peak = 0;
        for (size_t i = w; i < w + 96; ++i) peak = std::max(peak, std::abs(int(sink[2 * i])));
        ASSERT_GT(peak, 12000) << "gap at frame " << w;
    }
    // Mono plays the left input on both outputs; mode 11 the mean of both
    // inputs (1000 and 1500 Hz at half the level each); stereo keeps them apart.
    if (lc.mode == DEVICEMODE_MONO_MIX) {
        const ToneFit a = FitTone(sink.data(), to - 480, 480, 2, 0, 1000.0, 48000.0);
        const ToneFit b = FitTone(sink.data(), to - 480, 480, 2, 0, 1500.0, 48000.0);
        EXPECT_NEAR(a.amplitude, 0.25 * 32767, 0.25 * 32767 * 0.02);
        EXPECT_NEAR(b.amplitude, 0.25 * 32767, 0.25 * 32767 * 0.02);
    } else {
        CheckToneWindows(sink.data(), from, to, 0, 1000.0, 0.5 * 32767);
        CheckToneWindows(sink.data(), from, to, 1, stereo ? 1500.0 : 1000.0, 0.5 * 32767);
    }
    int l = 0, r = 0;
    m_engine->GetLevels(0, &l, &r);
    EXPECT_GT(l, 15000);
    m_engine->GetLevels(1, &l, &r);
    EXPECT_GT(l, 10000);
}

INSTANTIATE_TEST_SUITE_P(TypesAndModes, AsioLoopbackTest,
                         ::testing::Values(LoopCase{18, DEVICEMODE_STEREO}, LoopCase{16, DEVICEMODE_STEREO},
                                           LoopCase{18, DEVICEMODE_MONO}, LoopCase{16, DEVICEMODE_MONO_MIX}),
                         [](const ::testing::TestParamInfo<LoopCase>& i) {
                             return std::string(i.param.sampleType == 16 ? "Int16" : "Int32") + "Mode" +
                                    std::to_string(i.param.mode);
                         });

TEST_F(AsioEngineTest, ThirtyTwoKilohertzCallIsConvertedBothWays) {
    Use("Loop32");
    OpenBothWays(Format(CODING_PCM, 32000, DEVICEMODE_STEREO, 1280), 10, 10);
    // On ASIO the capture FIFO holds a quarter more at rates other than 48000.
    EXPECT_EQ(m_engine->GetCaptureLimit(), (2 * 1280 + (2 * 1280) / 4) + 4);
    for (int i = 0; i < 400; ++i) Pass(5, 1280, 10);
    std::vector<int16_t> sink(2 * 48000 * 2);
    const size_t got = VirtualAsioReadSink("Loop32", 0, sink.data(), sink.size()) / 2;
    ASSERT_GT(got, 48000u);
    // Down to 32 kHz and up again: the two filters' gains at 1 kHz.
    CSampleRateConverter down, up;
    ASSERT_EQ(down.Init(48000, 2, 32000, 2, 96), 1);
    ASSERT_EQ(up.Init(32000, 2, 48000, 2, 96), 1);
    const double gain = SrcDesign(down, 48000).Gain(1000.0) * SrcDesign(up, 32000).Gain(1000.0);
    CheckToneWindows(sink.data(), got - 24000, got, 0, 1000.0, 0.5 * 32767 * gain);
}

TEST_F(AsioEngineTest, ReceiveWaitsUntilThePlaybackFifoIsEmptyExceptLayerThree) {
    Use("Hold");
    const AudioFormat f = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 1920);
    OpenBothWays(f, 10, 10);
    std::vector<uint8_t> unit(1920, 1);
    ASSERT_EQ(m_engine->PutReceiveData(unit.data(), 1920), 1);
    m_engine->DecodeReceived();  // into the playback FIFO, not yet to the device
    ASSERT_GT(m_engine->GetPlaybackFill(), 0);
    EXPECT_EQ(m_engine->GetReceiveSpace(), 0);
    EXPECT_EQ(m_engine->PutReceiveData(unit.data(), 4), 0);
    m_engine->ProcessPlayback();
    EXPECT_EQ(m_engine->GetPlaybackFill(), 0);
    EXPECT_EQ(m_engine->GetReceiveSpace(), 1920);
}

TEST_F(AsioEngineTest, StretchAnswersTheSendFillFirst) {
    Use("Stretch");
    OpenBothWays(Format(CODING_PCM, 48000, DEVICEMODE_MONO, 960), 0, 0);
    for (int i = 0; i < 40; ++i) {
        VirtualWaveAdvanceMs(5);
        m_engine->EncodeCapture();
    }
    ASSERT_GT(m_engine->GetSendFill(), 0);
    EXPECT_EQ(m_engine->StretchCapture(), m_engine->GetSendFill());
    std::vector<uint8_t> buf(18432);
    m_engine->GetSendData(buf.data(), m_engine->GetSendFill());
    EXPECT_GE(m_engine->StretchCapture(), 0);  // the device's own answer: its fill or a stretch
}

class AsioDriftTest : public AsioEngineTest, public ::testing::WithParamInterface<double> {};

// Ten simulated minutes with the driver's clock 0.5 % off the connection's.
// Every FIFO stays within its bounds, and per direction what was corrected
// (frames inserted or dropped, blocks lost, switches played silent, units
// the link could not deliver or had to drop) adds up to the clock difference,
// up to what the FIFOs hold. One frame is corrected per write (at most 0.2 %
// with 10 ms units); the rest of a fast driver's deficit plays as silence.
TEST_P(AsioDriftTest, FillsStayBoundedForTenMinutes) {
    const double e = GetParam();
    Use(e > 0 ? "Fast" : "Slow", e);
    constexpr int kUnit = 1920;
    OpenBothWays(Format(CODING_PCM, 48000, DEVICEMODE_STEREO, kUnit), 10, 10);
    m_dropRefused = true;  // a link that cannot wait: refused units are lost
    CAsioDevice& asio = m_engine->Asio();
    int minPlay = 1 << 30, maxPlay = 0, maxCapture = 0, maxSend = 0, maxReceive = 0;
    constexpr int kSeconds = 600;
    for (int pass = 0; pass < kSeconds * 100; ++pass) {
        Pass(10, kUnit, 10);
        if (pass < 300) continue;  // the first 3 s settle
        minPlay = std::min(minPlay, asio.GetPlayFill());
        maxPlay = std::max(maxPlay, asio.GetPlayFill());
        maxCapture = std::max(maxCapture, asio.GetCaptureFill());
        maxSend = std::max(maxSend, m_engine->GetSendFill());
        maxReceive = std::max(maxReceive, m_engine->GetReceiveFill());
    }
    std::printf("play fill %d..%d of %d, capture fill up to %d of %d\n", minPlay, maxPlay, asio.GetPlayCapacity(),
                maxCapture, asio.GetCaptureCapacity());
    EXPECT_LE(maxPlay, asio.GetPlayCapacity());
    EXPECT_LE(maxCapture, asio.GetCaptureCapacity());
    EXPECT_LE(maxSend, m_engine->GetSendLimit());
    EXPECT_LE(maxReceive, m_engine->GetReceiveLimit());
    EXPECT_LT(m_link.size(), 2u * kUnit);

    const double excess = e / 100.0 * 48000 * kSeconds;  // frames the driver made or played beyond the link
    const double block = asio.GetBlockSamples();
    const double captureNet = double(asio.GetLostCaptureBlocks()) * block + double(asio.GetCaptureDroppedFrames()) -
                              double(asio.GetCaptureInsertedFrames()) - double(m_starved) * 480;
    const double silentFrames = double(asio.GetUnderrunSwitches()) * block;
    const double playNet = double(asio.GetPlayInsertedFrames()) + silentFrames - double(asio.GetPlayDroppedFrames()) -
                           double(m_refused) * 480;
    const double slack = (CAsioDevice::kPlayFifoBytes + CAsioDevice::kCaptureFifoBytes) / 4.0 + 4 * 12 * block + 4800;
    std::printf("lost blocks %llu, capture dropped %lld inserted %lld, starved %lld; play inserted %lld dropped %lld "
                "underruns %llu refused %lld\n",
                (unsigned long long)asio.GetLostCaptureBlocks(), (long long)asio.GetCaptureDroppedFrames(),
                (long long)asio.GetCaptureInsertedFrames(), (long long)m_starved, (long long)asio.GetPlayInsertedFrames(),
                (long long)asio.GetPlayDroppedFrames(), (unsigned long long)asio.GetUnderrunSwitches(), (long long)m_refused);
    std::printf("capture: excess %.0f corrected %.0f; playback: excess %.0f corrected %.0f (slack %.0f)\n", excess,
                captureNet, excess + double(m_starved) * 480, playNet, slack);
    EXPECT_NEAR(captureNet, excess, slack);
    // The loop carries only what was captured: units the capture could not
    // fill never reached playback either.
    EXPECT_NEAR(playNet, excess + double(m_starved) * 480, slack);
    EXPECT_GT(m_carried, kSeconds * 100 * 99 / 100);
}

INSTANTIATE_TEST_SUITE_P(PlusMinusHalfPercent, AsioDriftTest, ::testing::Values(0.5, -0.5),
                         [](const ::testing::TestParamInfo<double>& i) {
                             return std::string(i.param > 0 ? "DriverFast" : "DriverSlow");
                         });

}  // namespace
