// Whole TCP calls between two stations whose audio runs through the real
// codecs: each station's tone goes out encoded, comes back decoded at the far
// end, and is judged there by frequency, level, noise and continuity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "CallHarness.h"
#include "audio/SrcDesign.h"
#include "audio/ToneAnalysis.h"

namespace {

struct CodecCase {
    const char* name;
    int codingType;
    int sampleRate;
    int mode;
    double levelToleranceDb;  // level at the far end against the sent tone
    double snrFloorDb;        // tone against everything else the fit leaves
    uint32_t callMs = 1200;   // how long the call runs before it is judged
    double muteMs = 0;        // silence the decoder owes after it opens
    int bitRate = 0;          // 0: the rate the format implies
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

struct Measured {
    double hz = 0, levelDb = 0, snrDb = 0, maxEarGapMs = 0;
};

struct CodecCallTest : ::testing::TestWithParam<CodecCase> {
    void SetUp() override {
        MakeTwoStations(m_dir, m_a, m_b);
        m_a->tone->toneHz = 1000.0;
        m_a->tone->toneLevel = 0.5;
    }
    void TearDown() override {
        m_a.reset();
        m_b.reset();
    }

    void Call(const PhonebookEntry& entry, uint32_t ms) { CallBothWays(*m_a, *m_b, entry, ms); }

    // The gain of the capture and playback converters at f when the call
    // runs at another rate than the devices.
    static double ConverterGain(int callRate, double f) {
        if (callRate == CToneStation::kDeviceRate) return 1.0;
        CSampleRateConverter down, up;
        if (!down.Init(CToneStation::kDeviceRate, 1, callRate, 1, 96) ||
            !up.Init(callRate, 1, CToneStation::kDeviceRate, 1, 96))
            return 0.0;
        return SrcDesign(down, CToneStation::kDeviceRate).Gain(f) * SrcDesign(up, callRate).Gain(f);
    }

    // Frequency from the first and last rising zero crossing, each placed
    // between its two samples.
    static double MeasureHz(const std::vector<int16_t>& pcm, size_t first, size_t count, int channels, int ch) {
        double t0 = -1, t1 = -1;
        int crossings = 0;
        for (size_t i = first + 1; i < first + count; ++i) {
            const double a = pcm[(i - 1) * channels + ch], b = pcm[i * channels + ch];
            if (a < 0 && b >= 0) {
                const double t = static_cast<double>(i - 1) + a / (a - b);
                if (t0 < 0) t0 = t;
                t1 = t;
                ++crossings;
            }
        }
        if (crossings < 2) return 0.0;
        return (crossings - 1) * CToneStation::kDeviceRate / (t1 - t0);
    }

    // What `heard` played carries `sent`'s tone on every channel: after the
    // start-up no window of 2 ms without it, the right frequency, level and
    // noise, and no long wait between played frames.
    static void ExpectTone(const char* who, CToneStation& heard, const CToneStation& sent, const CodecCase& c) {
        const int channels = c.mode == DEVICEMODE_MONO ? 1 : 2;
        std::lock_guard<std::mutex> g(heard.lock);
        ASSERT_EQ(heard.lastReceiveFormat.codingType, c.codingType) << who;
        ASSERT_EQ(heard.playedChannels, channels) << who;
        const size_t frames = heard.played.size() / static_cast<size_t>(channels);
        // Start-up: the decoders' own delay and sync, then the tone.
        size_t onset = 0;
        const double quiet = 0.3 * sent.toneLevel * 32767.0;
        while (onset < frames && std::abs(heard.played[onset * channels]) < quiet) ++onset;
        const size_t settled = onset + CToneStation::kDeviceRate / 20;  // 50 ms
        const size_t window = CToneStation::kDeviceRate / 2;            // the last 0.5 s
        ASSERT_GT(frames, settled + window) << who << ": too little audio arrived (" << frames << " frames, onset "
                                            << onset << ")";
        const size_t first = frames - window;
        // The tone starts once the decoder's own start-up is over: at once,
        // or when its mute ends.
        const double onsetMs = onset * 1000.0 / CToneStation::kDeviceRate;
        EXPECT_GE(onsetMs, c.muteMs) << who;
        EXPECT_LT(onsetMs, c.muteMs + 100.0) << who;
        Measured m;
        for (size_t i = settled + 1; i < frames; ++i)
            m.maxEarGapMs = std::max(m.maxEarGapMs, heard.earTimeMs[i] - heard.earTimeMs[i - 1]);
        for (int ch = 0; ch < channels; ++ch) {
            const double hz = sent.toneHz * (ch == 1 ? 1.5 : 1.0);
            const double expected = sent.toneLevel * 32767.0 * ConverterGain(c.sampleRate, hz);
            for (size_t w = settled; w + 96 <= frames; w += 96) {
                int peak = 0;
                for (size_t i = w; i < w + 96; ++i) peak = std::max(peak, std::abs(int(heard.played[i * channels + ch])));
                ASSERT_GT(peak, 0.7 * expected) << who << ": gap at frame " << w << " of " << frames << ", channel " << ch;
            }
            m.hz = MeasureHz(heard.played, first, window, channels, ch);
            const ToneFit fit = FitTone(heard.played.data(), first, window, channels, ch, hz, CToneStation::kDeviceRate);
            m.levelDb = Db(fit.amplitude / expected);
            m.snrDb = Db(fit.amplitude / std::sqrt(2.0) / std::max(fit.residualRms, 1e-9));
            std::printf("%s %s hears ch %d: %.2f Hz (sent %.0f), level %+.3f dB, SNR %.1f dB, onset after %.1f ms "
                        "of audio, longest wait between frames %.1f ms\n",
                        c.name, who, ch, m.hz, hz, m.levelDb, m.snrDb, onsetMs, m.maxEarGapMs);
            EXPECT_NEAR(m.hz, hz, 0.01 * hz) << who << " channel " << ch;
            EXPECT_NEAR(m.levelDb, 0.0, c.levelToleranceDb) << who << " channel " << ch;
            EXPECT_GT(m.snrDb, c.snrFloorDb) << who << " channel " << ch;
        }
        // Frames arrive one pass at a time; a lost or stalled block would
        // leave the loudspeaker waiting far longer than a pass or two.
        EXPECT_LT(m.maxEarGapMs, 100.0) << who;
    }

    CTempDir m_dir;
    std::unique_ptr<CStation> m_a;
    std::unique_ptr<CStation> m_b;
};

TEST_P(CodecCallTest, ToneBothWaysThroughTheCodec) {
    const CodecCase& c = GetParam();
    PhonebookEntry e = TcpEntry(m_b->port, c.codingType, c.sampleRate, c.mode);
    e.format.bitRate = c.bitRate ? c.bitRate : DerivedBitRate(e.format);
    Call(e, c.callMs);
    if (HasFatalFailure()) return;
    AudioFormat sends, hears;
    m_a->engine->GetEncoderFormat(&sends);
    m_b->engine->GetEncoderFormat(&hears);
    EXPECT_EQ(sends.codingType, c.codingType);
    EXPECT_EQ(hears.codingType, c.codingType);  // the answer comes back the same way
    EXPECT_EQ(m_a->tone->lastSendFormat.codingType, c.codingType);
    EXPECT_EQ(m_b->tone->lastSendFormat.codingType, c.codingType);
    ExpectTone("answerer", *m_b->tone, *m_a->tone, c);
    ExpectTone("caller", *m_a->tone, *m_b->tone, c);
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16, 12000));
}

// G.711 quantises each sample on a logarithmic scale whose error stays about
// 38 dB below a tone at these levels (floor 30 dB); that error is spread over
// the spectrum, so the fitted level moves by far less than 0.3 dB. apt-X at
// 4:1 codes a steady tone in its sub-bands with the error some 65 dB down
// (floor 50 dB) and its filter bank passes the tone at unity, so 0.2 dB.
// G.722's lower band codes these tones with the error some 47 dB down (floor
// 40 dB); its decoder stays silent for the first 3.2 s of every call.
INSTANTIATE_TEST_SUITE_P(
    TcpCalls, CodecCallTest,
    ::testing::Values(CodecCase{"G711ALaw", CODING_G711_ALAW, 8000, DEVICEMODE_MONO, 0.3, 30.0},
                      CodecCase{"G711MuLaw", CODING_G711_ULAW, 8000, DEVICEMODE_MONO, 0.3, 30.0},
                      CodecCase{"AptxStereo48k", CODING_APTX, 48000, DEVICEMODE_STEREO, 0.2, 50.0},
                      CodecCase{"AptxEnhStereo48k", CODING_APTX_ENH, 48000, DEVICEMODE_STEREO, 0.2, 50.0},
                      CodecCase{"AptxMono32k", CODING_APTX, 32000, DEVICEMODE_MONO, 0.2, 50.0},
                      CodecCase{"G722", CODING_G722, 16000, DEVICEMODE_MONO, 0.3, 40.0, 4200, 3200.0},
                      CodecCase{"Layer3Stereo48k", CODING_MPEG_L3, 48000, DEVICEMODE_STEREO, 0.5, 30.0, 2000, 0.0,
                                128000},
                      CodecCase{"Layer3Mono24k", CODING_MPEG_L3, 24000, DEVICEMODE_MONO, 0.5, 20.0, 2000, 0.0, 32000}),
    [](const ::testing::TestParamInfo<CodecCase>& i) { return std::string(i.param.name); });

}  // namespace
