// Every path of the front end's engine choice, as a caller opens it: which
// engine runs, what the info fields say about it, and a stream each peer
// decodes without a word, at its bit rate, with the reported delay, and with
// nothing of the input lost at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>

#include "Mp3EncTestSupport.h"

using namespace l3test;

namespace {

struct PathCase {
    const char* label;
    int preset;
    int rate, codedRate, channels, bitRate;
    int crc;
    Mp3Engine engine;
};

// Names the case in test lists without its pointer.
void PrintTo(const PathCase& c, std::ostream* os) {
    *os << "preset" << c.preset << "_" << c.rate << "to" << c.codedRate << "_" << c.channels << "ch_" << c.bitRate;
}

// A click in silence: where it comes out of the decoder tells the delay.
constexpr size_t kClickAt = 10000;

std::vector<int16_t> ClickedTones(int rate, int channels) {
    auto pcm = Tones(rate, channels, 1.0, {{440, 0.2}, {3100, 0.05}}, {{660, 0.2}});
    for (size_t n = kClickAt - 2000; n < kClickAt + 2000; ++n)
        for (int c = 0; c < channels; ++c) pcm[n * channels + c] = 0;
    for (int c = 0; c < channels; ++c) pcm[kClickAt * channels + c] = 30000;
    return pcm;
}

// Position of the largest sample of channel 0 in [from, to).
size_t PeakAt(const std::vector<int16_t>& pcm, int channels, size_t from, size_t to) {
    size_t best = from;
    for (size_t n = from; n < to && n * channels < pcm.size(); ++n)
        if (std::abs(int{pcm[n * channels]}) > std::abs(int{pcm[best * channels]})) best = n;
    return best;
}

}  // namespace

class Mp3EnginePaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(Mp3EnginePaths, RunTheEngineOfTheRuleAndDecodeCleanly) {
    if (!HaveTool("ffmpeg") || !HaveTool("mpg123")) GTEST_SKIP() << "peer missing";
    const PathCase& c = GetParam();
    EncodeSettings s;
    s.preset = c.preset;
    s.rate = c.rate;
    s.codedRate = c.codedRate;
    s.channels = c.channels;
    s.bitRate = c.bitRate;
    s.crc = c.crc;
    s.intensity = 0;  // the library's model codes no intensity stereo yet
    const auto pcm = ClickedTones(c.rate, c.channels);
    const EncodeResult r = Encode(pcm, s);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.engine, c.engine);
    std::printf("[ path ] %s: delay %d, padding period %d, padding bytes %d, bandwidth %.0f Hz\n", c.label,
                r.config.delay, r.config.paddingPeriod, r.config.paddingBytes, r.config.bandwidth);
    if (c.engine == Mp3Engine::kL3Core) {
        EXPECT_GE(r.config.paddingPeriod, 1);
        EXPECT_GE(r.config.paddingBytes, 1);
    } else {
        EXPECT_EQ(r.config.paddingPeriod, 0);
        EXPECT_EQ(r.config.paddingBytes, 0);
    }

    bool clean = false;
    const auto frames = ParseFrames(r.stream, &clean);
    EXPECT_TRUE(clean);
    ASSERT_GT(frames.size(), 10u);
    const int samplesPerFrame = c.codedRate > 24000 ? 1152 : 576;
    for (const FrameHeader& f : frames) {
        EXPECT_EQ(f.rate, c.codedRate);
        EXPECT_EQ(f.crc, c.crc != 0);
    }
    const double seconds = static_cast<double>(frames.size()) * samplesPerFrame / c.codedRate;
    const double bitRate = 8.0 * static_cast<double>(r.stream.size()) / seconds;
    std::printf("[ path ] %s: %zu frames, %.1f bit/s for %d\n", c.label, frames.size(), bitRate, c.bitRate);
    EXPECT_NEAR(bitRate, c.bitRate, 0.002 * c.bitRate);

    CTempDir dir;
    WriteFile(dir.File("s.mp3"), r.stream);
    for (Peer peer : {Peer::kFfmpeg, Peer::kMpg123}) {
        const RunResult run = PeerDecode(peer, dir.File("s.mp3"), dir.File("s.raw"), dir.File("err"), c.crc != 0);
        EXPECT_EQ(run.status, 0) << static_cast<int>(peer);
        EXPECT_EQ(WithoutDurationNote(run.err), "") << static_cast<int>(peer);
        if (peer != Peer::kMpg123) continue;  // --no-gapless: the decoder's own delay stays in
        const auto decoded = ToPcm(ReadFile(dir.File("s.raw")));
        const size_t inFrames = pcm.size() / c.channels;
        const size_t clickOut = kClickAt * c.codedRate / c.rate;
        const size_t peak = PeakAt(decoded, c.channels, clickOut, clickOut + 4000);
        std::printf("[ path ] %s: click out after %zu samples, reported delay %d\n", c.label, peak - clickOut,
                    r.config.delay);
        // Between rates the click falls between output samples: half a sample either way.
        EXPECT_NEAR(static_cast<int>(peak - clickOut), r.config.delay, c.rate == c.codedRate ? 0 : 1);
        // Flushing drains the delay: the whole input comes out.
        EXPECT_GE(decoded.size() / c.channels,
                  inFrames * c.codedRate / c.rate + static_cast<size_t>(r.config.delay));
    }
}

INSTANTIATE_TEST_SUITE_P(
    FrontEnd, Mp3EnginePaths,
    ::testing::Values(
        PathCase{"preset 0, equal rates", 0, 48000, 48000, 2, 128000, 1, Mp3Engine::kSecond},
        PathCase{"preset 0, ratio 2", 0, 48000, 24000, 2, 64000, 0, Mp3Engine::kSecondWithResampler},
        PathCase{"preset 0, 44100 to 32000", 0, 44100, 32000, 2, 96000, 1, Mp3Engine::kL3Core},
        PathCase{"preset 1, 64000 per channel", 1, 48000, 48000, 2, 128000, 0, Mp3Engine::kL3Core},
        PathCase{"preset 2, mono 64000", 2, 44100, 44100, 1, 64000, 0, Mp3Engine::kL3Core},
        PathCase{"preset 1, 32000 per channel", 1, 48000, 48000, 2, 64000, 0, Mp3Engine::kSecondWithResampler},
        PathCase{"preset 1, 32000 per channel unlisted", 1, 44100, 32000, 2, 64000, 0, Mp3Engine::kL3Core},
        PathCase{"preset 1, 320000", 1, 48000, 48000, 2, 320000, 0, Mp3Engine::kSecondWithResampler}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return "Path" + std::to_string(info.index); });
