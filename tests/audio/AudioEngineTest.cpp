#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

#include "audio/AudioEngine.h"
#include "platform/VirtualWave.h"
#include "tests/audio/SrcDesign.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

UINT FindDevice(const char* name, bool output) {
    const UINT n = output ? waveOutGetNumDevs() : waveInGetNumDevs();
    for (UINT i = 0; i < n; ++i) {
        char pname[32] = {};
        if (output) {
            WAVEOUTCAPSA caps;
            if (waveOutGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
            std::memcpy(pname, caps.szPname, 32);
        } else {
            WAVEINCAPSA caps;
            if (waveInGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
            std::memcpy(pname, caps.szPname, 32);
        }
        if (std::string(pname) == name) return i;
    }
    return 999;
}

// Frames PCM as "FAKE" + the samples with every byte inverted, so only a
// matching decoder gives the audio back.
class CFakeCodec final : public CCodec {
public:
    static constexpr int kPcmBytes = 4608;  // 1152 stereo frames
    static constexpr int kFrameBytes = kPcmBytes + 4;
    int GetDecodeFrameSize(const AudioFormat*) override { return kPcmBytes; }
    int GetEncodeFrameSize(const AudioFormat*) override { return kPcmBytes; }
    void SetDecodeFormat(const AudioFormat*) override {}
    int Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) override {
        ++decodes;
        if (!decoderOpen || codedBytes < kFrameBytes || pcmRoom < kPcmBytes) return 0;
        if (std::memcmp(coded, "FAKE", 4) != 0) {
            *consumed = 1;  // resync by one byte
            return 0;
        }
        auto* out = reinterpret_cast<uint8_t*>(pcm);
        for (int i = 0; i < kPcmBytes; ++i) out[i] = static_cast<uint8_t>(~coded[4 + i]);
        *consumed = kFrameBytes;
        return kPcmBytes;
    }
    void CloseDecoder() override { decoderOpen = false; }
    int OpenDecoder() override { return decoderOpen = true; }
    void SetEncodeFormat(const AudioFormat*) override {}
    int Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) override {
        if (!encoderOpen || pcmBytes < kPcmBytes || codedRoom < kFrameBytes) return 0;
        std::memcpy(coded, "FAKE", 4);
        const auto* in = reinterpret_cast<const uint8_t*>(pcm);
        for (int i = 0; i < kPcmBytes; ++i) coded[4 + i] = static_cast<uint8_t>(~in[i]);
        *consumed = kPcmBytes;
        return kFrameBytes;
    }
    void CloseEncoder() override { encoderOpen = false; }
    int OpenEncoder() override { return encoderOpen = true; }

    bool decoderOpen = false, encoderOpen = false;
    int decodes = 0;
};

class CFakeClip final : public CClipSource {
public:
    int Start(int) override { return 1; }
    void SetFileName(const char*) override {}
    void ClearLevels() override {}
    int PostCommand(int) override { return 1; }
    void SetOutputFormat(int, int) override {}
    int Read(int16_t* dst, int bytes) override {
        const int n = std::min(bytes, remaining);
        for (int i = 0; i < n / 2; ++i) dst[i] = 5000;
        remaining -= n;
        return n;
    }
    int IsFinished() override { return remaining == 0; }
    int GetLengthMs() override { return 1000; }
    int GetChannels() override { return 2; }
    void Close() override {}
    void GetLevels(int* l, int* r) override { *l = *r = 30000; }
    void SetGain(int, double) override {}
    int remaining = 0;
};

AudioFormat Format(int type, int rate, int mode, int frameBytes) {
    AudioFormat f;
    f.codingType = type;
    f.sampleRate = rate;
    f.deviceMode = mode;
    f.frameBytes = frameBytes;
    return f;
}

struct EngineFixture : ::testing::Test {
    void AddDevice(const char* name, double rateError, int sinkSeconds, int periodMs = 5) {
        VirtualWaveConfig c;
        c.periodMs = periodMs;
        c.name = name;
        c.simulatedClock = true;
        c.rateErrorPercent = rateError;
        c.toneHz = 1000;
        c.toneLevel = 0.5;
        c.sinkSeconds = sinkSeconds;
        ASSERT_EQ(VirtualWaveAdd(c), 1);
    }
    void Use(const char* capture, const char* playback) {
        m_file.settings.WriteInt("Audio", "Interface", INTERFACE_WAVE);
        m_file.settings.WriteInt("Rec", "Card", static_cast<int>(FindDevice(capture, false)));
        m_file.settings.WriteInt("Play", "Card", static_cast<int>(FindDevice(playback, true)));
    }
    void TearDown() override {
        m_engine.reset();
        EXPECT_EQ(VirtualWaveClear(), 1);
    }
    // One worker pass: the device clock moves, the engine pumps, and a
    // connection paced at one unit per unitMs carries the send side's units
    // to the receive side.
    void Pass(uint32_t ms, int unit, std::vector<uint8_t>& link, uint32_t unitMs = 10) {
        VirtualWaveAdvanceMs(ms);
        m_engine->EncodeCapture();
        std::vector<uint8_t> buf(static_cast<size_t>(unit));
        for (m_linkCredit += ms; m_linkCredit >= unitMs; m_linkCredit -= unitMs) {
            if (m_engine->GetSendFill() >= unit) {
                ASSERT_EQ(m_engine->GetSendData(buf.data(), unit), unit);
                link.insert(link.end(), buf.begin(), buf.end());
            }
            if (link.size() >= static_cast<size_t>(unit) && m_engine->GetReceiveSpace() >= unit) {
                ASSERT_EQ(m_engine->PutReceiveData(link.data(), unit), 1);
                link.erase(link.begin(), link.begin() + unit);
            }
            m_engine->ProcessPlayback();
        }
    }
    uint32_t m_linkCredit = 0;

    // A settings file of the test's own, named before the engine reads it.
    struct SettingsFile {
        std::string path = std::string(VELMORA_BINARY_DIR) + "/audio-engine-test-" + std::to_string(getpid()) + ".ini";
        CSettings settings{path};
        SettingsFile() {
            std::remove(path.c_str());
            setenv("VELMORA_SETTINGS_FILE", path.c_str(), 1);
        }
        ~SettingsFile() {
            unsetenv("VELMORA_SETTINGS_FILE");
            std::remove(path.c_str());
        }
    };
    SettingsFile m_file;
    std::unique_ptr<CAudioEngine> m_engine = std::make_unique<CAudioEngine>();
};

// The devices correct drift by single frames, so the tone is judged in
// 10 ms windows (level, purity) and by its zero crossings (frequency).
void CheckToneWindows(const int16_t* pcm, size_t from, size_t to, int channels, double freq, double peak,
                      double tolerance = 0.01) {
    for (int ch = 0; ch < channels; ++ch) {
        int crossings = 0;
        for (size_t i = from + 1; i < to; ++i)
            if (pcm[(i - 1) * channels + ch] < 0 && pcm[i * channels + ch] >= 0) ++crossings;
        const double measured = crossings / ((to - from) / 48000.0);
        EXPECT_NEAR(measured, freq, freq * 0.002) << "channel " << ch;
        int windows = 0, clean = 0;
        for (size_t w = from; w + 480 <= to; w += 480) {
            const ToneFit fit = FitTone(pcm, w, 480, channels, ch, freq, 48000.0);
            ++windows;
            EXPECT_NEAR(fit.amplitude, peak, peak * tolerance) << "window at " << w;
            // A slipped or doubled frame leaves about -26 dB; a gap or a
            // misplaced block far more.
            if (Db(fit.residualRms / fit.amplitude) < -20) ++clean;
        }
        EXPECT_GE(clean, windows * 95 / 100) << "channel " << ch;
    }
}

// The tone that the virtual capture plays arrives at the virtual playback
// device whole: right frequency and level, no gap, a steady delay.
void CheckLoopback(EngineFixture& t, int codingType, int frameBytes, uint32_t unitMs, CFakeCodec* codec,
                   double* delayMs) {
    t.AddDevice("Loop", 0.0, 4);
    t.Use("Loop", "Loop");
    if (codec) t.m_engine->SetCodecObject(codingType, codec);
    ASSERT_EQ(t.m_engine->Init(0), 1);
    const AudioFormat f = Format(codingType, 48000, DEVICEMODE_STEREO, frameBytes);
    t.m_engine->SetSendFormat(&f);
    ASSERT_EQ(t.m_engine->OpenEncoder(), 1);
    int changed = 0;
    ASSERT_EQ(t.m_engine->SetReceiveFormat(&f, &changed), 1);
    EXPECT_EQ(changed, 1);
    t.m_engine->SetDeviceBuffering(10, 0, 0);  // a type 1 IP call
    t.m_engine->SetOutputMute(0);
    std::vector<uint8_t> link;
    for (int i = 0; i < 600; ++i) t.Pass(5, frameBytes, link, unitMs);  // 3 s

    std::vector<int16_t> sink(2 * 48000 * 3);
    const size_t got = VirtualWaveReadSink("Loop", 0, sink.data(), sink.size());
    ASSERT_GT(got, 2u * 48000 * 2);
    // The capture's first 25 blocks (24 ms each) are silence; the tone starts after.
    size_t onset = 0;
    while (onset < got / 2 && std::abs(sink[2 * onset]) < 2000) ++onset;
    ASSERT_LT(onset, got / 2) << "no tone arrived";
    const double inputOnsetMs = 25 * 24.0;
    *delayMs = onset / 48.0 - inputOnsetMs;
    EXPECT_GT(*delayMs, 0.0);
    EXPECT_LT(*delayMs, 250.0);

    // After 50 ms of settling: no window of 2 ms without the tone, the right
    // frequency and level, and a phase that does not wander.
    const size_t from = onset + 2400, to = got / 2 - 480;
    ASSERT_GT(to, from + 48000);
    for (size_t w = from; w + 96 < to; w += 96) {
        int peak = 0;
        for (size_t i = w; i < w + 96; ++i) peak = std::max(peak, std::abs(int(sink[2 * i])));
        ASSERT_GT(peak, 15000) << "gap at frame " << w;
    }
    CheckToneWindows(sink.data(), from, to, 2, 1000.0, 16384.0);
}

TEST_F(EngineFixture, LoopbackCarriesPcmToneWithoutGaps) {
    double delay = 0;
    CheckLoopback(*this, CODING_PCM, 1920, 10, nullptr, &delay);
    std::printf("PCM loopback delay %.1f ms\n", delay);
}

TEST_F(EngineFixture, LoopbackCarriesToneThroughACodec) {
    CFakeCodec codec;
    double delay = 0;
    CheckLoopback(*this, CODING_MPEG_L2, CFakeCodec::kFrameBytes, 24, &codec, &delay);
    std::printf("codec loopback delay %.1f ms\n", delay);
    EXPECT_TRUE(codec.encoderOpen);
    EXPECT_TRUE(codec.decoderOpen);
    m_engine->CloseEncoder();
    m_engine->CloseDecoder();
    EXPECT_FALSE(codec.encoderOpen);
    EXPECT_FALSE(codec.decoderOpen);
    m_engine.reset();
}

TEST_F(EngineFixture, LoopbackThroughG711AtEightKilohertz) {
    AddDevice("Loop8", 0.0, 4);
    Use("Loop8", "Loop8");
    ASSERT_EQ(m_engine->Init(0), 1);
    const AudioFormat f = Format(CODING_G711_ALAW, 8000, DEVICEMODE_MONO, 192);  // 24 ms
    m_engine->SetSendFormat(&f);
    ASSERT_EQ(m_engine->OpenEncoder(), 1);
    EXPECT_EQ(m_engine->GetEncodeUnit(), 384);
    int changed = 0;
    ASSERT_EQ(m_engine->SetReceiveFormat(&f, &changed), 1);
    m_engine->SetDeviceBuffering(0, 0, 0);  // an ISDN call
    m_engine->SetOutputMute(0);
    std::vector<uint8_t> link;
    for (int i = 0; i < 600; ++i) Pass(5, 192, link, 24);
    std::vector<int16_t> sink(48000 * 3);
    const size_t got = VirtualWaveReadSink("Loop8", 0, sink.data(), sink.size());
    ASSERT_GT(got, 48000u * 2);
    // Down to 8 kHz, A-law, up again: the two filters' gains at 1 kHz.
    CSampleRateConverter down, up;
    ASSERT_EQ(down.Init(48000, 1, 8000, 1, 96), 1);
    ASSERT_EQ(up.Init(8000, 1, 48000, 1, 96), 1);
    const double gain = SrcDesign(down, 48000).Gain(1000.0) * SrcDesign(up, 8000).Gain(1000.0);
    CheckToneWindows(sink.data(), got - 48000, got, 1, 1000.0, 16384 * gain, 0.04);  // A-law steps
}

TEST_F(EngineFixture, LoopbackConvertsA32kHzCallBothWays) {
    AddDevice("Loop32", 0.0, 4);
    Use("Loop32", "Loop32");
    ASSERT_EQ(m_engine->Init(0), 1);
    const AudioFormat f = Format(CODING_PCM, 32000, DEVICEMODE_MONO, 640);  // 10 ms
    m_engine->SetSendFormat(&f);
    ASSERT_EQ(m_engine->OpenEncoder(), 1);
    int changed = 0;
    ASSERT_EQ(m_engine->SetReceiveFormat(&f, &changed), 1);
    m_engine->SetDeviceBuffering(10, 0, 0);  // a type 1 IP call
    m_engine->SetOutputMute(0);
    std::vector<uint8_t> link;
    for (int i = 0; i < 600; ++i) Pass(5, 640, link);
    std::vector<int16_t> sink(48000 * 3);
    const size_t got = VirtualWaveReadSink("Loop32", 0, sink.data(), sink.size());
    ASSERT_GT(got, 48000u * 2);
    CSampleRateConverter down, up;
    ASSERT_EQ(down.Init(48000, 1, 32000, 1, 96), 1);
    ASSERT_EQ(up.Init(32000, 1, 48000, 1, 96), 1);
    const double gain = SrcDesign(down, 48000).Gain(1000.0) * SrcDesign(up, 32000).Gain(1000.0);
    CheckToneWindows(sink.data(), got - 48000, got, 1, 1000.0, 16384 * gain);
}

struct DriftCase {
    double captureError, playbackError;
};

class EngineDriftTest : public EngineFixture, public ::testing::WithParamInterface<DriftCase> {};

// Ten simulated minutes of an ISDN-style call (frame-level correction on both
// devices) whose device clocks are 0.5 % off the connection's. The FIFOs stay
// within their limits and, per direction, what was dropped minus what was
// inserted equals the clock difference, up to what the FIFOs can hold.
TEST_P(EngineDriftTest, FillsStayBoundedAndCorrectionsMatchTheRateError) {
    const DriftCase dc = GetParam();
    AddDevice("Cap", dc.captureError, 0, 10);
    AddDevice("Play", dc.playbackError, 0, 10);
    Use("Cap", "Play");
    ASSERT_EQ(m_engine->Init(0), 1);
    constexpr int kUnit = 1920;  // 10 ms of 48 kHz stereo
    const AudioFormat f = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, kUnit);
    m_engine->SetSendFormat(&f);
    ASSERT_EQ(m_engine->OpenEncoder(), 1);
    int changed = 0;
    ASSERT_EQ(m_engine->SetReceiveFormat(&f, &changed), 1);
    m_engine->SetDeviceBuffering(0, 0, 0);
    m_engine->SetOutputMute(0);

    constexpr int kSeconds = 600, kPassMs = 50;
    int64_t starvedUnits = 0, refusedUnits = 0, carriedUnits = 0;
    int maxCapture = 0, maxPlayback = 0, maxReceive = 0, maxDeviceOut = 0, maxDeviceIn = 0;
    std::vector<uint8_t> buf(kUnit, 0);
    for (int pass = 0; pass < kSeconds * 1000 / kPassMs; ++pass) {
        VirtualWaveAdvanceMs(kPassMs);
        // The link clock is exact: one unit leaves and one arrives every 10 ms.
        for (int u = 0; u < kPassMs / 10; ++u) {
            m_engine->EncodeCapture();
            if (m_engine->GetSendFill() >= kUnit) {
                m_engine->GetSendData(buf.data(), kUnit);
                ++carriedUnits;
            } else {
                ++starvedUnits;
                m_engine->StretchCapture();
            }
            if (m_engine->GetReceiveSpace() >= kUnit) {
                m_engine->PutReceiveData(buf.data(), kUnit);
            } else {
                ++refusedUnits;
            }
            m_engine->ProcessPlayback();
        }
        maxCapture = std::max(maxCapture, m_engine->GetCaptureFill());
        maxPlayback = std::max(maxPlayback, m_engine->GetPlaybackFill());
        maxReceive = std::max(maxReceive, m_engine->GetReceiveFill());
        maxDeviceOut = std::max(maxDeviceOut, m_engine->WaveOut().GetFifoFill());
        maxDeviceIn = std::max(maxDeviceIn, m_engine->WaveIn().GetFifoFill());
    }
    EXPECT_LE(maxCapture, m_engine->GetCaptureLimit());
    EXPECT_LE(maxPlayback, m_engine->GetPlaybackLimit());
    EXPECT_LE(maxReceive, m_engine->GetReceiveLimit());
    EXPECT_LE(maxDeviceOut, m_engine->WaveOut().GetFifoCapacity());
    EXPECT_LE(maxDeviceIn, m_engine->WaveIn().GetFifoTarget());

    VirtualWaveStats in, out;
    ASSERT_EQ(VirtualWaveGetStats("Cap", 0, &in), 1);
    ASSERT_EQ(VirtualWaveGetStats("Play", 1, &out), 1);
    const double seconds = kSeconds;
    // Capture: the device made (1 + e) x 48000 frames a second, the link took 48000.
    const double captureExcess = dc.captureError / 100.0 * 48000 * seconds;
    const double captureNet = double(m_engine->WaveIn().GetDroppedFrames()) + double(in.overrunFrames) -
                              double(m_engine->WaveIn().GetInsertedFrames()) - double(starvedUnits) * 480;
    // Playback: the link brought 48000 frames a second, the device played (1 + e) x 48000.
    const double playbackExcess = -dc.playbackError / 100.0 * 48000 * seconds;
    const double playbackNet = double(m_engine->WaveOut().GetDroppedFrames()) + double(refusedUnits) * 480 -
                               double(m_engine->WaveOut().GetInsertedFrames()) - double(out.underrunFrames);
    // What the FIFOs (engine and device) can hold, in frames.
    const double slack = (2.0 * CAudioEngine::kFifoBytes + CWaveOutDevice::kMaxFifo) / 4 + 4800;
    std::printf("capture: excess %.0f corrected %.0f; playback: excess %.0f corrected %.0f (slack %.0f)\n",
                captureExcess, captureNet, playbackExcess, playbackNet, slack);
    EXPECT_NEAR(captureNet, captureExcess, slack);
    EXPECT_NEAR(playbackNet, playbackExcess, slack);
    EXPECT_GT(carriedUnits, kSeconds * 100 * 95 / 100);
}

INSTANTIATE_TEST_SUITE_P(PlusMinusHalfPercent, EngineDriftTest,
                         ::testing::Values(DriftCase{0.5, -0.5}, DriftCase{-0.5, 0.5}),
                         [](const ::testing::TestParamInfo<DriftCase>& info) {
                             return std::string(info.param.captureError > 0 ? "CaptureFastPlaybackSlow"
                                                                            : "CaptureSlowPlaybackFast");
                         });

TEST_F(EngineFixture, MissingAndBusyDevicesGiveTheirTexts) {
    AddDevice("Busy", 0.0, 0);
    Use("Busy", "Busy");
    m_file.settings.WriteInt("Play", "Card", 999);
    ASSERT_EQ(m_engine->Init(0), 1);
    const AudioFormat f = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 1920);
    int changed = 0;
    EXPECT_EQ(m_engine->SetReceiveFormat(&f, &changed), 0);
    std::string text;
    ASSERT_EQ(m_engine->GetLastError(text), 1);
    EXPECT_EQ(text, "Output device error: The device selected does not exist, or there is no device selected.");
    EXPECT_EQ(m_engine->GetDecodeType(), CODING_PCM);  // the codec side stays selected

    HWAVEIN other = nullptr;
    const WAVEFORMATEX wf = MakePcmFormat(48000, 2);
    ASSERT_EQ(waveInOpen(&other, FindDevice("Busy", false), &wf, 0, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    m_engine->SetSendFormat(&f);
    EXPECT_EQ(m_engine->OpenEncoder(), 0);
    ASSERT_EQ(m_engine->GetLastError(text), 1);
    EXPECT_EQ(text,
              "Input device error: Can't support full-duplex audio, or is already in use by another application.");
    EXPECT_EQ(m_engine->GetEncodeType(), 0);
    EXPECT_EQ(waveInClose(other), MMSYSERR_NOERROR);
}

TEST_F(EngineFixture, UnsupportedRatePairFailsTheOpenWithAText) {
    AddDevice("Src", 0.0, 0);
    Use("Src", "Src");
    ASSERT_EQ(m_engine->Init(0), 1);
    const AudioFormat f = Format(CODING_PCM, 11025, DEVICEMODE_MONO, 2048);
    int changed = 0;
    EXPECT_EQ(m_engine->SetReceiveFormat(&f, &changed), 0);
    std::string text;
    ASSERT_EQ(m_engine->GetLastError(text), 1);
    EXPECT_EQ(text, "Output device error: The audio format is not supported.");
    m_engine->SetSendFormat(&f);
    EXPECT_EQ(m_engine->OpenEncoder(), 0);
    ASSERT_EQ(m_engine->GetLastError(text), 1);
    EXPECT_EQ(text, "Input device error: The audio format is not supported.");
    const AudioFormat zero = Format(CODING_PCM, 0, DEVICEMODE_MONO, 2048);
    m_engine->SetSendFormat(&zero);
    EXPECT_EQ(m_engine->OpenEncoder(), 0);
}

TEST_F(EngineFixture, FramesLargerThanAFifoAreRefusedAtOpen) {
    ASSERT_EQ(m_engine->Init(0), 1);  // no device kind: codec and FIFO rules only
    const AudioFormat big = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, CAudioEngine::kFifoBytes + 4);
    m_engine->SetSendFormat(&big);
    EXPECT_EQ(m_engine->OpenEncoder(), 0);
    int changed = 0;
    EXPECT_EQ(m_engine->SetReceiveFormat(&big, &changed), 0);
    std::string text;
    EXPECT_EQ(m_engine->GetLastError(text), 1);
    const AudioFormat fits = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 1920);
    m_engine->SetSendFormat(&fits);
    EXPECT_EQ(m_engine->OpenEncoder(), 1);
}

TEST_F(EngineFixture, WithoutADeviceKindCodecsStillRunAndDecodingStopsAtTheLimit) {
    CFakeCodec codec;
    m_engine->SetCodecObject(CODING_MPEG_L2, &codec);
    ASSERT_EQ(m_engine->Init(0), 1);
    EXPECT_EQ(m_engine->GetCodingMask(), 0x17Fu);
    const AudioFormat f = Format(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, CFakeCodec::kFrameBytes);
    int changed = 0;
    ASSERT_EQ(m_engine->SetReceiveFormat(&f, &changed), 1);
    EXPECT_TRUE(codec.decoderOpen);
    std::vector<uint8_t> frame(CFakeCodec::kFrameBytes, 0);
    std::memcpy(frame.data(), "FAKE", 4);
    for (int i = 0; i < 5; ++i) {
        if (m_engine->GetReceiveSpace() >= CFakeCodec::kFrameBytes) m_engine->PutReceiveData(frame.data(), int(frame.size()));
        m_engine->ProcessPlayback();
    }
    EXPECT_EQ(m_engine->GetPlaybackFill(), CFakeCodec::kPcmBytes);  // limit n + 4 holds one frame
    EXPECT_EQ(m_engine->PutReceiveData(frame.data(), 1), 0);          // the receive FIFO is full
    m_engine->SetSendFormat(&f);
    ASSERT_EQ(m_engine->OpenEncoder(), 1);
    m_engine->EncodeCapture();
    EXPECT_EQ(m_engine->GetSendFill(), 0);

    AudioFormat sendOnly = f;
    sendOnly.direction = DIRECTION_RECEIVE_ONLY;
    m_engine->SetSendFormat(&sendOnly);
    EXPECT_EQ(m_engine->OpenEncoder(), 1);
    EXPECT_EQ(m_engine->GetEncodeType(), 0);
    m_engine.reset();  // the engine closes its sides through the codec, so it goes first
}

TEST_F(EngineFixture, ClipPositionSurvivesOddRates) {
    CFakeClip clip;
    m_engine->SetClipPlayer(&clip);
    ASSERT_EQ(m_engine->Init(0), 1);  // no device kind: the send side opens at any rate
    for (int rate : {0, 1, 999, 44100}) {
        const AudioFormat f = Format(CODING_PCM, rate, DEVICEMODE_MONO, 960);
        m_engine->SetSendFormat(&f);
        ASSERT_EQ(m_engine->OpenEncoder(), 1);
        ASSERT_EQ(m_engine->StartClip(), 1);
        clip.remaining = 960;
        m_engine->ProcessPlayback();
        int played = -1, length = -1;
        m_engine->GetClipPosition(&played, &length);
        EXPECT_GE(played, 0) << rate;
        EXPECT_EQ(length, 1000);
        EXPECT_EQ(m_engine->StopClip(), 1);
    }
}

TEST_F(EngineFixture, ClipAudioEndsSilent) {
    AddDevice("Clip", 0.0, 0);
    Use("Clip", "Clip");
    CFakeClip clip;
    m_engine->SetClipPlayer(&clip);
    ASSERT_EQ(m_engine->Init(0), 1);
    // A live call, microphone off: the clip replaces the captured audio and
    // after its end the outgoing audio is silence, not the last clip block.
    const AudioFormat f = Format(CODING_PCM, 48000, DEVICEMODE_STEREO, 1920);
    m_engine->SetSendFormat(&f);
    ASSERT_EQ(m_engine->OpenEncoder(), 1);
    clip.remaining = 1920 * 3;
    ASSERT_EQ(m_engine->StartClip(), 1);
    std::vector<uint8_t> out(1920);
    int clipUnits = 0, silentAfter = 0;
    for (int i = 0; i < 40; ++i) {
        VirtualWaveAdvanceMs(10);
        m_engine->EncodeCapture();
        while (m_engine->GetSendFill() >= 1920) {
            m_engine->GetSendData(out.data(), 1920);
            const auto* s = reinterpret_cast<const int16_t*>(out.data());
            const bool all5000 = std::all_of(s, s + 960, [](int16_t v) { return v == 5000; });
            const bool silent = std::all_of(s, s + 960, [](int16_t v) { return v == 0; });
            if (all5000) ++clipUnits;
            if (clipUnits == 3 && silent) ++silentAfter;
            EXPECT_TRUE(all5000 || silent);
        }
    }
    EXPECT_EQ(clipUnits, 3);
    EXPECT_GT(silentAfter, 5);
    int l = 0, r = 0;
    m_engine->SetMicOn(1);
    m_engine->GetLevels(1, &l, &r);
    EXPECT_LE(l, 32768);  // clip 30000 plus the microphone is clamped
    EXPECT_LE(r, 32768);
    int played = 0, length = 0;
    EXPECT_EQ(m_engine->GetClipPosition(&played, &length), 1);
    EXPECT_EQ(played, 1920 * 3 / 96 / 2);
}

}  // namespace
