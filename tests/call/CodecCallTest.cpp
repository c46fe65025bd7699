// Whole TCP calls between two stations on the real audio engine: each
// station's virtual device captures a tone that the real codec encodes, the
// far engine decodes it and its virtual device plays it. What each device
// played is judged by frequency, level, noise and continuity, and each side
// must know the other's identity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "EngineStations.h"
#include "audio/SrcDesign.h"
#include "audio/ToneAnalysis.h"

namespace {

constexpr int kDeviceRate = 48000;

struct CodecCase {
    const char* name;
    int codingType;
    int sampleRate;
    int mode;
    int bitRate;              // 0: the coding type's own
    double levelToleranceDb;  // level at the far end against the sent tone
    double snrFloorDb;        // tone against everything else the fit leaves
    uint32_t callMs = 3000;   // device time the call runs before it is judged
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

struct CodecCallTest : CTwoStudiosTest<::testing::TestWithParam<CodecCase>> {
    void SetUp() override { MakeStudios("Studio A Loop", 1000.0, 0.5, "Studio B Loop", 440.0, 0.25); }

    // The gain of the capture and playback converters at f when the call
    // runs at another rate than the devices.
    static double ConverterGain(int callRate, double f) {
        if (callRate == kDeviceRate) return 1.0;
        CSampleRateConverter down, up;
        if (!down.Init(kDeviceRate, 1, callRate, 1, 96) || !up.Init(callRate, 1, kDeviceRate, 1, 96)) return 0.0;
        return SrcDesign(down, kDeviceRate).Gain(f) * SrcDesign(up, callRate).Gain(f);
    }

    static constexpr size_t kPiece = kDeviceRate / 200;

    static double Median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    }

    // What `heard` played carries the far tone on every channel: for the
    // last second (after the start-up mute and the silence that follows the
    // unmute) no 2 ms without it, and in the last 0.5 s the right level and
    // noise.
    static void ExpectTone(const char* who, const CVirtualStudio& heard, double hz, double level,
                           const CodecCase& c) {
        const int channels = c.mode == DEVICEMODE_MONO ? 1 : 2;
        const std::vector<int16_t> played = PlayedBy(heard, channels);
        const size_t frames = played.size() / static_cast<size_t>(channels);
        const double expected = level * 32767.0 * ConverterGain(c.sampleRate, hz);
        const size_t window = kDeviceRate / 2;
        const size_t continuous = kDeviceRate;
        ASSERT_GT(frames, continuous) << who << ": too little audio (" << frames << " frames)";
        const size_t first = frames - window;
        for (int ch = 0; ch < channels; ++ch) {
            // Start of the last stretch without a gap.
            const size_t since = EndOfLastGap(played, channels, ch, 0.7 * expected);
            ASSERT_LE(since, frames - continuous)
                << who << ": gap " << (frames - since) * 1000 / kDeviceRate << " ms before the end, channel " << ch;
            // The playback device keeps its FIFO in step by adding or dropping
            // single sample frames (a phase step): judge 5 ms pieces, each
            // with its own phase, and take the median.
            std::vector<double> levels, snrs;
            for (size_t w = first; w + kPiece <= frames; w += kPiece) {
                const ToneFit fit = FitTone(played.data(), w, kPiece, channels, ch, hz, kDeviceRate);
                levels.push_back(Db(fit.amplitude / expected));
                snrs.push_back(Db(fit.amplitude / std::sqrt(2.0) / std::max(fit.residualRms, 1e-9)));
            }
            const double levelDb = Median(levels);
            const double snrDb = Median(snrs);
            std::printf("%s %s hears ch %d: %.0f Hz, level %+.3f dB, SNR %.1f dB, without a gap for the last %zu ms\n",
                        c.name, who, ch, hz, levelDb, snrDb, (frames - since) * 1000 / kDeviceRate);
            EXPECT_NEAR(levelDb, 0.0, c.levelToleranceDb) << who << " channel " << ch;
            EXPECT_GT(snrDb, c.snrFloorDb) << who << " channel " << ch;
        }
    }

    static void ExpectPeer(const char* who, CStation& s, const char* name) {
        StationIdentity peer;
        s.engine->GetRemoteIdentity(&peer);
        EXPECT_STREQ(peer.stationName, name) << who;
    }

};

TEST_P(CodecCallTest, ToneBothWaysThroughTheRealEngine) {
    const CodecCase& c = GetParam();
    PhonebookEntry e = TcpEntry(m_b->port, c.codingType, c.sampleRate, c.mode);
    e.format.bitRate = c.bitRate ? c.bitRate : DerivedBitRate(e.format);
    ASSERT_NO_FATAL_FAILURE(StartCall(e));
    ASSERT_TRUE(m_clock->WaitDeviceMs(c.callMs));
    AudioFormat sends, hears;
    m_a->engine->GetEncoderFormat(&sends);
    m_b->engine->GetEncoderFormat(&hears);
    EXPECT_EQ(sends.codingType, c.codingType);
    EXPECT_EQ(sends.bitRate, e.format.bitRate);
    EXPECT_EQ(hears.codingType, c.codingType);  // the answer comes back the same way
    m_a->engine->GetDecoderFormat(&hears);
    EXPECT_EQ(hears.codingType, c.codingType);
    ExpectTone("answerer", m_studioB, 1000.0, 0.5, c);
    ExpectTone("caller", m_studioA, 440.0, 0.25, c);
    ExpectPeer("caller", *m_a, "Studio B");
    ExpectPeer("answerer", *m_b, "Studio A");
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16, 20000));
    ASSERT_TRUE(m_b->WaitState(16, 20000));
}

// PCM at the device rate is bit-exact but for the tone's own rounding.
// G.711 quantises each sample on a logarithmic scale whose error stays about
// 38 dB below a tone at these levels (floor 30 dB). apt-X at 4:1 codes a
// steady tone in its sub-bands with the error some 65 dB down (floor 50 dB).
// G.722's lower band codes these tones with the error some 47 dB down (floor
// 40 dB); its decoder stays silent for the first 3.2 s of every call. Layer II
// spends its bits on the one tone: floors well below what it reaches. Layer
// III at 128 kbit/s stereo and 32 kbit/s mono keeps a tone some 45 dB and
// more above its noise.
INSTANTIATE_TEST_SUITE_P(
    RealEngine, CodecCallTest,
    ::testing::Values(
        CodecCase{"PcmStereo48k", CODING_PCM, 48000, DEVICEMODE_STEREO, 0, 0.1, 70.0},
        CodecCase{"G711ALaw", CODING_G711_ALAW, 8000, DEVICEMODE_MONO, 0, 0.5, 30.0},
        CodecCase{"G711MuLaw", CODING_G711_ULAW, 8000, DEVICEMODE_MONO, 0, 0.5, 30.0},
        CodecCase{"G722", CODING_G722, 16000, DEVICEMODE_MONO, 0, 0.5, 40.0, 5500},
        CodecCase{"Layer2Stereo48k256", CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 256000, 0.5, 35.0},
        CodecCase{"Layer2Joint48k128", CODING_MPEG_L2, 48000, DEVICEMODE_JOINT_STEREO, 128000, 0.5, 30.0},
        CodecCase{"Layer2Mono24k64", CODING_MPEG_L2, 24000, DEVICEMODE_MONO, 64000, 0.5, 30.0},
        CodecCase{"Layer3Stereo48k128", CODING_MPEG_L3, 48000, DEVICEMODE_STEREO, 128000, 0.5, 30.0},
        CodecCase{"Layer3Mono24k32", CODING_MPEG_L3, 24000, DEVICEMODE_MONO, 32000, 0.5, 20.0},
        CodecCase{"AptxStereo48k", CODING_APTX, 48000, DEVICEMODE_STEREO, 0, 0.3, 50.0},
        CodecCase{"AptxEnhStereo48k", CODING_APTX_ENH, 48000, DEVICEMODE_STEREO, 0, 0.3, 50.0},
        CodecCase{"AptxMono32k", CODING_APTX, 32000, DEVICEMODE_MONO, 0, 0.5, 50.0}),
    [](const ::testing::TestParamInfo<CodecCase>& i) { return std::string(i.param.name); });

}  // namespace
