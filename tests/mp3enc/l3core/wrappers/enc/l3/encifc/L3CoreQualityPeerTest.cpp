// l3core beside lame at the same sample rate, bit rate and channel mode:
// tones, multi-tones, pink noise and speech from espeak-ng, both streams
// decoded by mpg123, aligned and level-matched, judged by SNR and by SNR and
// log-spectral distance per scale-factor band. Also: block switching against
// pre-echo, intensity stereo's channel level ratio, and the SSE paths.
//
// The checked builds (address, undefined-behaviour and thread checkers) skip
// these: they measure the coding, which the checkers do not change, and the
// nine-rate and path tests already run the same encoder code under them.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "mp3enc/Mp3EncTestSupport.h"
#include "mp3enc/l3core/core/psych/SfbParam.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreTestEncode.h"

using namespace l3test;

namespace {

using l3coretest::kCheckedBuild;

constexpr double kSeconds = 2.0;

// Where dec[n + lag] best matches ref[n] on channel c, from the first 0.4 s.
int FindLag(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int channels, int c, int maxLag,
            int rate) {
    const size_t n = std::min(ref.size() / channels, static_cast<size_t>(rate) * 2 / 5);
    double best = -1e300;
    int bestLag = 0;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double ab = 0.0, bb = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const size_t d = (i + static_cast<size_t>(lag)) * channels + c;
            if (d >= dec.size()) break;
            ab += static_cast<double>(ref[i * channels + c]) * dec[d];
            bb += static_cast<double>(dec[d]) * dec[d];
        }
        const double score = bb > 0.0 ? ab / std::sqrt(bb) : -1e300;
        if (score > best) {
            best = score;
            bestLag = lag;
        }
    }
    return bestLag;
}

void Fft(std::vector<std::complex<double>>& x) {
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2.0 * M_PI / static_cast<double>(len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1.0;
            for (size_t k = 0; k < len / 2; ++k, wk *= w) {
                const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * wk;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
            }
        }
    }
}

constexpr int kBands = 21;

// One channel of a decoded stream against its input.
struct Figures {
    int lag = 0;
    double snr = 0.0;        // dB, whole signal after the level fit
    double bandSnr[kBands];  // dB; NAN where a band holds no FFT bin
    double bandLsd[kBands];  // dB RMS over the band's bins and all blocks
};

// The first fifth and the last tenth of a second are left out: there the
// silence, the onset and the encoders' end, not their coding, decide. Band
// SNRs are left out (NAN) where the input holds less than a millionth of its
// energy: there they tell nothing.
Figures Measure(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int channels, int c,
                int rate) {
    Figures f;
    f.lag = FindLag(ref, dec, channels, c, 3000, rate);
    const size_t frames = ref.size() / channels, edge = static_cast<size_t>(rate) / 10, start = 2 * edge;
    auto at = [&](const std::vector<int16_t>& v, size_t i) {
        return i * channels + c < v.size() ? static_cast<double>(v[i * channels + c]) : 0.0;
    };
    double ab = 0.0, bb = 0.0;
    for (size_t i = start; i + edge < frames; ++i) {
        ab += at(ref, i) * at(dec, i + f.lag);
        bb += at(dec, i + f.lag) * at(dec, i + f.lag);
    }
    const double g = bb > 0.0 ? ab / bb : 1.0;  // lame scales its input a little: judge the noise alone
    double signal = 0.0, noise = 0.0;
    for (size_t i = start; i + edge < frames; ++i) {
        const double a = at(ref, i), e = a - g * at(dec, i + f.lag);
        signal += a * a;
        noise += e * e;
    }
    f.snr = 10.0 * std::log10(signal / std::max(noise, 1e-9));

    SfbParam* sfb = SfbParamCreate(0, static_cast<float>(rate));
    constexpr size_t kN = 1024;
    constexpr double kFloor = 384.0;  // the power one LSB of white noise leaves in a bin of this window
    std::vector<double> win(kN);
    for (size_t i = 0; i < kN; ++i) win[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / kN);
    std::vector<double> sig(kBands, 0.0), err(kBands, 0.0), lsd(kBands, 0.0);
    std::vector<int> bins(kBands, 0);
    int blocks = 0;
    for (size_t s = start; s + kN + edge < frames; s += kN / 2, ++blocks) {
        std::vector<std::complex<double>> r(kN), d(kN);
        for (size_t i = 0; i < kN; ++i) {
            r[i] = win[i] * at(ref, s + i);
            d[i] = win[i] * g * at(dec, s + i + f.lag);
        }
        Fft(r);
        Fft(d);
        for (int b = 0; b < kBands; ++b) {
            const size_t lo = static_cast<size_t>(std::lround(sfb->start[b] * (kN / 2) / 576.0));
            const size_t hi = static_cast<size_t>(std::lround(sfb->start[b + 1] * (kN / 2) / 576.0));
            for (size_t k = lo; k < hi; ++k) {
                const double pr = std::norm(r[k]), pd = std::norm(d[k]);
                sig[b] += pr;
                err[b] += std::norm(r[k] - d[k]);
                const double l = 10.0 * std::log10((pr + kFloor) / (pd + kFloor));
                lsd[b] += l * l;
            }
            if (blocks == 0) bins[b] = static_cast<int>(hi - lo);
        }
    }
    SfbParamFree(sfb);
    double total = 0.0;
    for (double e : sig) total += e;
    for (int b = 0; b < kBands; ++b) {
        f.bandSnr[b] = bins[b] && sig[b] > 1e-6 * total
                           ? 10.0 * std::log10(std::max(sig[b], 1e-9) / std::max(err[b], 1e-9))
                           : NAN;
        f.bandLsd[b] = bins[b] ? std::sqrt(lsd[b] / (bins[b] * std::max(blocks, 1))) : NAN;
    }
    return f;
}

void PrintBands(const char* what, const char* who, const double* v) {
    std::printf("[ sfb %s ] %-6s", what, who);
    for (int b = 0; b < kBands; ++b) std::isnan(v[b]) ? std::printf("     -") : std::printf(" %5.1f", v[b]);
    std::printf("\n");
}

// mpg123's decoding of a stream, or empty when it said anything.
std::vector<int16_t> DecodeClean(const CTempDir& dir, const std::vector<uint8_t>& stream,
                                 const std::string& name) {
    WriteFile(dir / (name + ".mp3"), stream);
    const RunResult run =
        PeerDecode(Peer::kMpg123, dir / (name + ".mp3"), dir / (name + ".raw"), dir / "err", false);
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_EQ(run.err, "") << name;
    return ToPcm(ReadFile(dir / (name + ".raw")));
}

std::vector<uint8_t> EncodeWithLame(const CTempDir& dir, const std::vector<int16_t>& pcm, int rate,
                                    int channels, int bitRate) {
    WritePcm(dir / "in.raw", pcm);
    char khz[16];
    std::snprintf(khz, sizeof khz, "%g", rate / 1000.0);
    const RunResult run = RunShell(std::string("lame --quiet -r -s ") + khz + " --resample " + khz +
                                       " --bitwidth 16 --signed --little-endian -t -q 2 --cbr -m " +
                                       (channels == 1 ? "m" : "j") + " -b " + std::to_string(bitRate / 1000) +
                                       " " + (dir / "in.raw") + " " + (dir / "lame.mp3"),
                                   dir / "lame.err");
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadFile(dir / "lame.mp3");
}

// Pink noise (Voss: eight white rows refreshed at halving rates), a channel
// of its own each.
std::vector<int16_t> Pink(int rate, int channels, double seconds) {
    std::vector<int16_t> pcm(static_cast<size_t>(seconds * rate) * channels);
    for (int c = 0; c < channels; ++c) {
        const auto one = Panned(rate, seconds, true, 0.0, 17u + static_cast<uint32_t>(c));
        for (size_t n = 0; n < pcm.size() / channels; ++n) pcm[n * channels + c] = one[2 * n];
    }
    return pcm;
}

// espeak-ng's voice at the stream's rate through sox; empty when either is missing.
std::vector<int16_t> Speech(const CTempDir& dir, int rate) {
    if (!HaveTool("espeak-ng")) return {};
    RunShell(
        "espeak-ng -s 150 --stdout 'Studio two, you are on air in five seconds. Check the levels, please.' | "
        "sox -t wav - -t raw -e signed -b 16 -c 1 -r " +
            std::to_string(rate) + " " + (dir / "speech.raw"),
        dir / "speech.err");
    return ToPcm(ReadFile(dir / "speech.raw"));
}

enum class Signal { kTone, kMultiTone, kPink, kSpeech };

struct QualityCase {
    const char* label;
    Signal signal;
    int rate, channels, bitRate;
    bool sseCheck;  // also coded with the SSE paths off
};

void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.label; }

std::vector<int16_t> MakeSound(const QualityCase& c, const CTempDir& dir) {
    switch (c.signal) {
    case Signal::kTone:
        return Tones(c.rate, c.channels, kSeconds, {{997.0, 0.5}}, {{997.0, 0.35}});
    case Signal::kMultiTone:
        return Tones(c.rate, c.channels, kSeconds,
                     {{220, 0.2}, {1230, 0.15}, {c.rate / 11.0, 0.1}, {c.rate / 5.3, 0.03}},
                     {{330, 0.2}, {2010, 0.12}, {c.rate / 7.0, 0.08}});
    case Signal::kPink:
        return Pink(c.rate, c.channels, kSeconds);
    case Signal::kSpeech:
        return Speech(dir, c.rate);
    }
    return {};
}

// A tenth of a second of silence first: its end tells a periodic signal's
// lags apart.
std::vector<int16_t> AfterSilence(std::vector<int16_t> pcm, int rate, int channels) {
    pcm.insert(pcm.begin(), static_cast<size_t>(rate / 10 * channels), int16_t{0});
    return pcm;
}

std::vector<int16_t> MakeSignal(const QualityCase& c, const CTempDir& dir) {
    return AfterSilence(MakeSound(c, dir), c.rate, c.channels);
}

}  // namespace

class L3CoreQuality : public ::testing::TestWithParam<QualityCase> {};

TEST_P(L3CoreQuality, BesideLameAtTheSameRateAndMode) {
    if (kCheckedBuild)
        GTEST_SKIP() << "measures the coding; the checkers run the same code in the nine-rate test";
    if (!HaveTool("lame") || !HaveTool("mpg123") || !HaveTool("ffmpeg")) GTEST_SKIP() << "peer missing";
    const QualityCase& c = GetParam();
    CTempDir dir("l3quality");
    const std::vector<int16_t> pcm = MakeSignal(c, dir);
    if (pcm.empty()) GTEST_SKIP() << "espeak-ng or sox missing";
    l3coretest::Settings s;
    s.channels = c.channels;
    s.inRate = static_cast<float>(c.rate);
    s.bitRate = c.bitRate;
    const l3coretest::Stream ours = l3coretest::Encode(pcm, s);
    ASSERT_EQ(ours.error, "");
    const auto oursPcm = DecodeClean(dir, ours.bytes, "ours");
    const auto lamePcm = DecodeClean(dir, EncodeWithLame(dir, pcm, c.rate, c.channels, c.bitRate), "lame");
    ASSERT_FALSE(oursPcm.empty() || lamePcm.empty());
    for (int ch = 0; ch < c.channels; ++ch) {
        const Figures o = Measure(pcm, oursPcm, c.channels, ch, c.rate);
        const Figures l = Measure(pcm, lamePcm, c.channels, ch, c.rate);
        std::printf(
            "[ quality ] %-34s ch %d: SNR ours %5.1f dB, lame -q 2 %5.1f dB (%+.1f); delay ours %d "
            "(reported %d), lame %d\n",
            c.label, ch, o.snr, l.snr, o.snr - l.snr, o.lag, ours.info.delay, l.lag);
        PrintBands("SNR", "ours", o.bandSnr);
        PrintBands("SNR", "lame", l.bandSnr);
        PrintBands("LSD", "ours", o.bandLsd);
        PrintBands("LSD", "lame", l.bandLsd);
        EXPECT_EQ(o.lag, ours.info.delay) << "ch " << ch;
        // Every channel, the right one of a stereo pair too (at the lower rates
        // intensity and mid/side could starve it), and not only the tones.
        EXPECT_GT(o.snr, l.snr - 6.0) << "ch " << ch;
    }
    if (!c.sseCheck) return;
    // Equal quality: both valid for every peer, and SNR within 0.1 dB per channel.
    s.sse = 0;
    const l3coretest::Stream plain = l3coretest::Encode(pcm, s);
    ASSERT_EQ(plain.error, "");
    WriteFile(dir / "plain.mp3", plain.bytes);
    const RunResult run = PeerDecode(Peer::kFfmpeg, dir / "plain.mp3", dir / "plain.raw", dir / "err", false);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(WithoutDurationNote(run.err), "");
    const auto plainPcm = DecodeClean(dir, plain.bytes, "plain");
    for (int ch = 0; ch < c.channels; ++ch) {
        const double on = Measure(pcm, oursPcm, c.channels, ch, c.rate).snr;
        const double off = Measure(pcm, plainPcm, c.channels, ch, c.rate).snr;
        std::printf("[ sse ] %-34s ch %d: SNR with SSE %.2f dB, without %.2f dB; streams %s\n", c.label, ch,
                    on, off, plain.bytes == ours.bytes ? "identical" : "differ");
        EXPECT_NEAR(off, on, 0.1) << "ch " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, L3CoreQuality,
    ::testing::Values(QualityCase{"tone_44k1_stereo_128k", Signal::kTone, 44100, 2, 128000, false},
                      QualityCase{"tone_24k_mono_32k", Signal::kTone, 24000, 1, 32000, false},
                      QualityCase{"multitone_48k_stereo_128k", Signal::kMultiTone, 48000, 2, 128000, true},
                      QualityCase{"multitone_32k_mono_64k", Signal::kMultiTone, 32000, 1, 64000, false},
                      QualityCase{"multitone_24k_stereo_32k", Signal::kMultiTone, 24000, 2, 32000, false},
                      QualityCase{"multitone_16k_stereo_32k", Signal::kMultiTone, 16000, 2, 32000, false},
                      QualityCase{"pink_44k1_stereo_128k", Signal::kPink, 44100, 2, 128000, false},
                      QualityCase{"pink_22k05_mono_40k", Signal::kPink, 22050, 1, 40000, false},
                      QualityCase{"speech_22k05_mono_40k", Signal::kSpeech, 22050, 1, 40000, true},
                      QualityCase{"pink_24k_stereo_32k", Signal::kPink, 24000, 2, 32000, false},
                      QualityCase{"speech_24k_stereo_32k", Signal::kSpeech, 24000, 2, 32000, false},
                      QualityCase{"speech_16k_mono_24k", Signal::kSpeech, 16000, 1, 24000, false}),
    [](const ::testing::TestParamInfo<QualityCase>& info) { return std::string(info.param.label); });

namespace {
// Error energy of the decoded signal, dB of full scale, over [from, to) of the input's time.
double ErrorDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, size_t lag, size_t from,
               size_t to) {
    double e = 0.0;
    for (size_t n = from; n < to && n + lag < dec.size(); ++n) {
        const double d = static_cast<double>(dec[n + lag]) - ref[n];
        e += d * d;
    }
    return 10.0 * std::log10(std::max(e, 1.0) / (32768.0 * 32768.0));
}
}  // namespace

// Clicks out of a quiet tone, mono 44100 Hz at 64 kbit/s: the noise the
// coding spreads into the 23 ms before each click, with block switching and
// with long blocks only (option "blm" 1).
TEST(L3CoreQuality, BlockSwitchingKeepsPreEchoBelowLongBlocksOnly) {
    if (kCheckedBuild)
        GTEST_SKIP() << "measures the coding; the checkers run the same code in the nine-rate test";
    if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 missing";
    constexpr int kRate = 44100;
    std::vector<int16_t> pcm = Tones(kRate, 1, 1.5, {{400.0, 0.01}});
    const std::vector<size_t> clicks = {22050, 44100};
    uint32_t seed = 5;
    for (size_t at : clicks)
        for (size_t k = 0; k < 180; ++k) {  // 4 ms of decaying noise
            seed = seed * 1664525u + 1013904223u;
            const double v =
                0.8 * std::exp(-static_cast<double>(k) / 60.0) * static_cast<int32_t>(seed) / 2147483648.0;
            pcm[at + k] = static_cast<int16_t>(std::lround(v * 32767.0));
        }
    CTempDir dir("l3preecho");
    double db[2];
    for (int longOnly : {0, 1}) {
        l3coretest::Settings s;
        s.channels = 1;
        s.inRate = kRate;
        s.bitRate = 64000;
        s.options = {{"blm", longOnly ? "1" : "0"}};
        const l3coretest::Stream coded = l3coretest::Encode(pcm, s);
        ASSERT_EQ(coded.error, "");
        const auto decoded = DecodeClean(dir, coded.bytes, longOnly ? "long" : "switched");
        double e = 0.0;
        for (size_t at : clicks)
            e += std::pow(
                10.0, ErrorDb(pcm, decoded, static_cast<size_t>(coded.info.delay), at - 1024, at - 8) / 10.0);
        db[longOnly] = 10.0 * std::log10(e);
    }
    std::printf(
        "[ pre-echo ] error before the clicks: block switching %.1f dBFS, long blocks only %.1f dBFS "
        "(%+.1f)\n",
        db[0], db[1], db[0] - db[1]);
    EXPECT_LT(db[0], db[1]);
}

// Intensity stereo at low rates through the encoder's own path: a tone and
// then pink noise, both 6.02 dB quieter on the right, keep that ratio within
// 2 dB in mpg123; the frames say intensity.
TEST(L3CoreQuality, IntensityStereoKeepsTheChannelLevelRatio) {
    if (kCheckedBuild)
        GTEST_SKIP() << "measures the coding; the checkers run the same code in the nine-rate test";
    if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 missing";
    struct Case {
        int rate, bitRate;
    };
    for (const Case c : {Case{32000, 64000}, Case{44100, 80000}, Case{22050, 48000}, Case{24000, 32000}}) {
        char label[40];
        std::snprintf(label, sizeof label, "%d Hz %d bit/s", c.rate, c.bitRate);
        SCOPED_TRACE(label);
        std::vector<int16_t> pcm = Panned(c.rate, 0.5, false, -6.0);
        const auto noise = Panned(c.rate, 0.5, true, -6.0);
        pcm.insert(pcm.end(), noise.begin(), noise.end());
        l3coretest::Settings s;
        s.inRate = static_cast<float>(c.rate);
        s.bitRate = c.bitRate;
        const l3coretest::Stream coded = l3coretest::Encode(pcm, s);
        ASSERT_EQ(coded.error, "");
        bool clean = false;
        const auto frames = ParseFrames(coded.bytes, &clean);
        EXPECT_TRUE(clean);
        size_t intensity = 0;
        for (const FrameHeader& f : frames) intensity += f.modeExtension & 1;
        CTempDir dir("l3is");
        const auto decoded = DecodeClean(dir, coded.bytes, "is");
        const size_t d = static_cast<size_t>(coded.info.delay), half = static_cast<size_t>(c.rate) / 2,
                     margin = static_cast<size_t>(c.rate) / 20;
        const double tone = RightToLeftDb(decoded, d + margin, d + half - margin);
        const double pink = RightToLeftDb(decoded, d + half + margin, d + 2 * half - margin);
        std::printf(
            "[ intensity ] %-18s %3zu of %3zu frames; right of left: tone %+.2f dB, pink noise %+.2f dB "
            "(input -6.02)\n",
            label, intensity, frames.size(), tone, pink);
        EXPECT_GE(3 * intensity, frames.size());
        EXPECT_NEAR(tone, -6.02, 2.0);
        EXPECT_NEAR(pink, -6.02, 2.0);
    }
}
