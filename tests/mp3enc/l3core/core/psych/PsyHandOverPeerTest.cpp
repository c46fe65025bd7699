#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "ModelStream.h"
#include "PsyTestSupport.h"
#include "mp3enc/Mp3EncTestSupport.h"
#include "support/TempDir.h"

using psytest::OptionScope;
using psytest::TakeMessage;

namespace {

constexpr double kLeftHz = 1000.0;
constexpr double kRightHz = 1500.0;

std::vector<uint8_t> Encode(const std::vector<int16_t>& pcm, int hz, int bitRate, int* shortGranules,
                            int* midSideGranules) {
    psytest::ModelStreamCounts counts;
    std::vector<uint8_t> stream = psytest::EncodeModelStream(pcm, hz, bitRate, 0, &counts);
    *shortGranules = counts.shortGranules;
    *midSideGranules = counts.midSideGranules;
    return stream;
}

// Power of one channel of interleaved stereo at a frequency, over its second half.
double PowerAt(const std::vector<int16_t>& pcm, int channel, double hz, int rate) {
    const size_t frames = pcm.size() / 2;
    double re = 0.0, im = 0.0;
    for (size_t i = frames / 2; i < frames; ++i) {
        const double w = 2.0 * M_PI * hz * static_cast<double>(i) / rate;
        re += pcm[i * 2 + channel] * std::cos(w);
        im += pcm[i * 2 + channel] * std::sin(w);
    }
    return re * re + im * im;
}

}  // namespace

// A different tone in each channel, with clicks in the left one that switch
// both to short blocks, coded from the model's records, decodes without error
// or warning in both peers (CRC checked), each tone in its own channel and at
// its frequency, clear of the other channel's tone.
TEST(PsyHandOver, ModelStreamsDecodeCleanlyInPeers) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
    OptionScope scope;
    struct Case {
        int hz, bitRate;
    };
    for (const Case& c : {Case{44100, 128000}, Case{48000, 128000}, Case{22050, 128000}}) {
        SCOPED_TRACE(c.hz);
        std::vector<int16_t> pcm = l3test::Tones(c.hz, 2, 1.0, {{kLeftHz, 0.3}}, {{kRightHz, 0.3}});
        std::vector<int16_t> clicked = pcm;
        for (size_t n = c.hz / 8; n < pcm.size() / 2; n += c.hz / 4) clicked[2 * n] = 30000;
        int shortGranules = 0, midSideGranules = 0;
        const std::vector<uint8_t> stream = Encode(clicked, c.hz, c.bitRate, &shortGranules, &midSideGranules);
        EXPECT_GE(shortGranules, 4);
        bool clean = false;
        const auto frames = l3test::ParseFrames(stream, &clean);
        EXPECT_TRUE(clean);
        EXPECT_GT(frames.size(), 10u);
        CTempDir dir("l3psy");
        l3test::WriteFile(dir / "s.mp3", stream);
        for (auto peer : {l3test::Peer::kFfmpeg, l3test::Peer::kMpg123}) {
            const auto run = l3test::PeerDecode(peer, dir / "s.mp3", dir / "s.raw", dir / "s.err", true);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(l3test::WithoutDurationNote(run.err), "");
            const auto decoded = l3test::ToPcm(l3test::ReadFile(dir / "s.raw"));
            ASSERT_GT(decoded.size(), pcm.size() / 2);
            if (peer == l3test::Peer::kFfmpeg) {  // both peers decode the same samples
                int lag = 0;
                const double snrL = l3test::BestSnr(clicked, decoded, 2, 0, 2400, &lag, 2400);
                const double snrR = l3test::BestSnr(clicked, decoded, 2, 1, 2400, &lag, 2400);
                std::printf("%d Hz %d bit/s, %d short granules: SNR left %.1f dB, right %.1f dB\n", c.hz, c.bitRate,
                            shortGranules, snrL, snrR);
                EXPECT_GT(snrL, 20.0);
                EXPECT_GT(snrR, 20.0);
            }
            EXPECT_GT(PowerAt(decoded, 0, kLeftHz, c.hz), 1000.0 * PowerAt(decoded, 0, kRightHz, c.hz));
            EXPECT_GT(PowerAt(decoded, 1, kRightHz, c.hz), 1000.0 * PowerAt(decoded, 1, kLeftHz, c.hz));
        }
    }
}

// Nearly the same tone in both channels brings mid/side granules; both peers
// decode it cleanly with the level of each channel kept.
TEST(PsyHandOver, MidSideStreamDecodesCleanlyInPeers) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
    OptionScope scope;
    const int hz = 44100;
    const std::vector<int16_t> pcm = l3test::Tones(hz, 2, 0.5, {{kLeftHz, 0.3}, {3100.0, 0.05}}, {{kLeftHz, 0.25}});
    int shortGranules = 0, midSideGranules = 0;
    const std::vector<uint8_t> stream = Encode(pcm, hz, 128000, &shortGranules, &midSideGranules);
    EXPECT_GE(midSideGranules, 1);
    CTempDir dir("l3psyms");
    l3test::WriteFile(dir / "s.mp3", stream);
    for (auto peer : {l3test::Peer::kFfmpeg, l3test::Peer::kMpg123}) {
        const auto run = l3test::PeerDecode(peer, dir / "s.mp3", dir / "s.raw", dir / "s.err", true);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(l3test::WithoutDurationNote(run.err), "");
        const auto decoded = l3test::ToPcm(l3test::ReadFile(dir / "s.raw"));
        ASSERT_GT(decoded.size(), pcm.size() / 2);
        const double levelDb = 10.0 * std::log10(PowerAt(decoded, 1, kLeftHz, hz) / PowerAt(decoded, 0, kLeftHz, hz));
        std::printf("mid/side granules %d: right to left at %.0f Hz %.2f dB\n", midSideGranules, kLeftHz, levelDb);
        EXPECT_NEAR(levelDb, 20.0 * std::log10(0.25 / 0.3), 0.5);
        EXPECT_GT(PowerAt(decoded, 0, 3100.0, hz), 1000.0 * PowerAt(decoded, 1, 3100.0, hz));
    }
}
