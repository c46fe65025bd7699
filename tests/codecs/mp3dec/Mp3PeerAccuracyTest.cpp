// Our PCM against mpg123's on streams made by lame: the ISO 11172-4 accuracy
// measures per stream, and equal frame and sample counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

#include "Mp3TestUtil.h"

using namespace mp3test;

namespace {

struct PeerCase {
    int rate;
    const char* mode;  // lame -m: m mono, s stereo, j joint stereo
    bool vbr;
};

std::string Name(const PeerCase& c) {
    return std::to_string(c.rate) + "_" + (c.mode[0] == 'm' ? "mono" : c.mode[0] == 's' ? "stereo" : "joint") +
           (c.vbr ? "_vbr" : "_cbr");
}

void PrintTo(const PeerCase& c, std::ostream* os) { *os << Name(c); }

class Mp3PeerAccuracy : public ::testing::TestWithParam<PeerCase> {};

TEST_P(Mp3PeerAccuracy, MatchesMpg123) {
    if (!HaveTool("lame") || !HaveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 not on PATH";
    const PeerCase c = GetParam();
    CTempDir dir(Name(c));
    const int channels = c.mode[0] == 'm' ? 1 : 2;
    WriteWav(dir / "in.wav", TestSignal(c.rate, channels, 0.6, static_cast<uint32_t>(c.rate)), c.rate, channels);
    const int kbps = c.rate <= 12000 ? 24 : c.rate <= 24000 ? 64 : 128;
    char khz[16];
    std::snprintf(khz, sizeof(khz), "%g", c.rate / 1000.0);
    // -t: no Xing/Info frame, so that every frame carries audio for both decoders.
    const std::string rateOpt = c.vbr ? "-V 4" : "-b " + std::to_string(kbps);
    ASSERT_TRUE(mp3test::Run("lame --quiet -t --resample " + std::string(khz) + " -m " + c.mode + " " + rateOpt + " " +
                    (dir / "in.wav") + " " + (dir / "s.mp3")));
    ASSERT_TRUE(mp3test::Run("mpg123 --no-gapless -q -s -O " + (dir / "ref.raw") + " " + (dir / "s.mp3")));
    const auto stream = ReadFile(dir / "s.mp3");
    const auto ref = AsSamples(ReadFile(dir / "ref.raw"));
    const DecodeResult ours = DecodeAll(stream, 1500);
    const auto pcm = AsSamples(ours.pcm);

    ASSERT_EQ(ours.lastInfo.sampleRate, c.rate);
    ASSERT_EQ(ours.lastInfo.channels, channels);
    const int spf = c.rate >= 32000 ? 1152 : 576;
    EXPECT_EQ(pcm.size(), ref.size()) << "sample count";
    EXPECT_EQ(static_cast<size_t>(ours.frames) * static_cast<size_t>(spf * channels), ref.size()) << "frame count";
    EXPECT_EQ(ours.concealed, 0);
    const size_t n = std::min(pcm.size(), ref.size());
    ASSERT_GT(n, 0u);
    double sum = 0.0;
    int peak = 0;
    for (size_t i = 0; i < n; ++i) {
        const int d = pcm[i] - ref[i];
        sum += static_cast<double>(d) * d;
        peak = std::max(peak, std::abs(d));
    }
    const double rms = std::sqrt(sum / static_cast<double>(n)) / 32768.0;
    const double peakFs = peak / 32768.0;
    const double rmsLimit = std::pow(2.0, -15) / std::sqrt(12.0);
    std::printf("[ accuracy ] %-22s frames %4d samples %7zu rms %.3e (limit %.3e) peak %.3e (limit %.3e) %s\n",
                Name(c).c_str(), ours.frames, n, rms, rmsLimit, peakFs, std::pow(2.0, -14),
                rms < rmsLimit && peakFs <= std::pow(2.0, -14) ? "full accuracy" : "limited accuracy");
    // mpg123's output is 16-bit and rounded, so it is exact to within its own rounding.
    EXPECT_LT(rms, rmsLimit);
    EXPECT_LE(peakFs, std::pow(2.0, -14));
}

std::vector<PeerCase> AllCases() {
    std::vector<PeerCase> cases;
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        for (const char* mode : {"m", "s", "j"})
            for (bool vbr : {false, true}) cases.push_back({rate, mode, vbr});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LameStreams, Mp3PeerAccuracy, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<PeerCase>& info) { return Name(info.param); });

}  // namespace
