// The decoder core against mpg123 and ffmpeg on streams made by twolame and
// ffmpeg. Each case generates a short signal, encodes it with a peer, decodes
// it with the core and with a peer decoder, and prints how close they are.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/codecs/mpeg2/Mp2TestSupport.h"

namespace {

using namespace mp2test;

struct Case {
    int rate;
    int channels;
    int kbps;
    const char* mode;  // twolame mode letter
    bool crc = false;
};

void Compare(const Case& c, const std::string& encoder) {
    if (!HaveTool(encoder)) GTEST_SKIP() << encoder << " not installed";
    const bool haveMpg123 = HaveTool("mpg123");
    if (!haveMpg123 && !HaveTool("ffmpeg")) GTEST_SKIP() << "no peer decoder";
    TempDir dir;
    const auto pcm = Make(Signal::Multitone, c.rate, c.channels, 0.6);
    WritePcm(dir / "in.raw", pcm);
    const std::string mp2 = dir / "in.mp2";
    std::string cmd;
    if (encoder == "twolame")
        cmd = "twolame --quiet -r -s " + std::to_string(c.rate) + " -N " + std::to_string(c.channels) + " -m " + c.mode +
              " -b " + std::to_string(c.kbps) + (c.crc ? " -p " : " ") + (dir / "in.raw") + " " + mp2;
    else
        cmd = "ffmpeg -v error -y -f s16le -ar " + std::to_string(c.rate) + " -ac " + std::to_string(c.channels) + " -i " +
              (dir / "in.raw") + " -c:a mp2 -b:a " + std::to_string(c.kbps) + "k " + mp2;
    ASSERT_EQ(RunTool(cmd), 0) << cmd;
    const std::string refPath = dir / "ref.raw";
    const std::string peer = haveMpg123 ? "mpg123" : "ffmpeg";
    if (haveMpg123)
        cmd = "mpg123 -q -O " + refPath + " " + mp2;
    else
        cmd = "ffmpeg -v error -y -i " + mp2 + " -f s16le " + refPath;
    ASSERT_EQ(RunTool(cmd), 0) << cmd;
    const auto ref = ReadPcm(refPath);
    const StreamResult ours = DecodeStream(ReadFile(mp2));
    ASSERT_EQ(ours.channels, c.channels);
    EXPECT_EQ(ours.failures, 0);
    const size_t n = std::min(ref.size(), ours.pcm.size());
    ASSERT_GT(n, 0u);
    size_t within1 = 0, over2 = 0;
    int maxDiff = 0;
    for (size_t i = 0; i < n; ++i) {
        const int diff = std::abs(static_cast<int>(ref[i]) - static_cast<int>(ours.pcm[i]));
        within1 += diff <= 1;
        over2 += diff > 2;
        maxDiff = std::max(maxDiff, diff);
    }
    const double pct = 100.0 * static_cast<double>(within1) / static_cast<double>(n);
    std::printf("%s stream %d Hz %d ch %d kbit/s vs %s: %zu samples (ours %zu, peer %zu), %.4f %% within 1 LSB, "
                "%zu off by more than 2, largest %d\n",
                encoder.c_str(), c.rate, c.channels, c.kbps, peer.c_str(), n, ours.pcm.size(), ref.size(), pct, over2,
                maxDiff);
    EXPECT_GE(pct, 99.9);
    EXPECT_EQ(over2, 0u);
}

class Mp2DecoderPeerTest : public ::testing::TestWithParam<Case> {};

TEST_P(Mp2DecoderPeerTest, TwolameStream) { Compare(GetParam(), "twolame"); }
TEST_P(Mp2DecoderPeerTest, FfmpegStream) { Compare(GetParam(), "ffmpeg"); }

INSTANTIATE_TEST_SUITE_P(Rates, Mp2DecoderPeerTest,
                         ::testing::Values(Case{48000, 2, 256, "s"}, Case{48000, 2, 384, "s"}, Case{48000, 1, 128, "m"},
                                           Case{44100, 2, 192, "j"}, Case{24000, 1, 64, "m"}, Case{22050, 1, 64, "m"},
                                           Case{16000, 1, 64, "m"}, Case{32000, 2, 192, "j", true}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "_" + std::to_string(info.param.channels) + "ch_" +
                                    std::to_string(info.param.kbps) + (info.param.crc ? "_crc" : "");
                         });

}  // namespace
