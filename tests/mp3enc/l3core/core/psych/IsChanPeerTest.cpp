#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "ModelStream.h"
#include "PsyTestSupport.h"
#include "codecs/mp3dec/Mp3TestUtil.h"
#include "mp3enc/Mp3EncTestSupport.h"
#include "support/TempDir.h"

namespace {

struct Case {
    int hz;
    int bitRate;
};

std::vector<int16_t> ToneThenPink(int hz) {
    std::vector<int16_t> pcm = l3test::Panned(hz, 0.5, false, -6.0);
    const std::vector<int16_t> noise = l3test::Panned(hz, 0.5, true, -6.0);
    pcm.insert(pcm.end(), noise.begin(), noise.end());
    return pcm;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
    return h;
}

// Right channel against left over the tone half and the pink-noise half, a
// twentieth of a second clear of each edge, after the codec's delay.
struct Ratios {
    double tone;
    double pink;
};
Ratios Measure(const std::vector<int16_t>& decoded, int lag, int hz) {
    const size_t half = static_cast<size_t>(hz) / 2, margin = static_cast<size_t>(hz) / 20, d = static_cast<size_t>(lag);
    return {l3test::RightToLeftDb(decoded, d + margin, d + half - margin),
            l3test::RightToLeftDb(decoded, d + half + margin, d + 2 * half - margin)};
}

}  // namespace

// With intensity not allowed the streams are byte for byte those coded before
// intensity stereo existed (hashes taken then).
TEST(IsChan, WithoutIntensityStreamsAreUnchanged) {
    psytest::OptionScope scope;
    struct Plain {
        Case c;
        uint64_t hash;
    };
    for (const Plain& p : {Plain{{32000, 64000}, 0xcc73b550e3b30604ull}, Plain{{24000, 32000}, 0xe9aa58d7ff16f14cull}}) {
        psytest::ModelStreamCounts counts;
        EXPECT_EQ(Fnv1a(psytest::EncodeModelStream(ToneThenPink(p.c.hz), p.c.hz, p.c.bitRate, 0, &counts)), p.hash)
            << p.c.hz;
        EXPECT_EQ(counts.intensityGranules, 0);
    }
}

// Joint stereo with intensity allowed at low rates, an MPEG-1 and an MPEG-2
// rate: a tone and then pink noise, both 6 dB quieter on the right, keep that
// level ratio within 2 dB in mpg123 and in our own decoder; frames carry mode
// extension bit 0 (every frame at the MPEG-1 rate, the noisy part at the
// MPEG-2 one); ffmpeg (CRC checked) and mpg123 decode without a word.
TEST(IsChan, IntensityKeepsTheChannelLevelRatioThroughPeersAndOurDecoder) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
    psytest::OptionScope scope;
    for (const Case& c : {Case{32000, 64000}, Case{22050, 48000}}) {
        char label[48];
        std::snprintf(label, sizeof label, "%d Hz %d bit/s", c.hz, c.bitRate);
        SCOPED_TRACE(label);
        const std::vector<int16_t> pcm = ToneThenPink(c.hz);
        psytest::ModelStreamCounts counts;
        const std::vector<uint8_t> stream = psytest::EncodeModelStream(pcm, c.hz, c.bitRate, 1, &counts);
        bool clean = false;
        const auto frames = l3test::ParseFrames(stream, &clean);
        EXPECT_TRUE(clean);
        size_t intensityFrames = 0;
        for (const auto& f : frames) intensityFrames += f.modeExtension & 1;
        EXPECT_GE(3 * intensityFrames, frames.size());
        if (c.hz > 24000) {
            EXPECT_EQ(intensityFrames, frames.size());
        }

        CTempDir dir("l3is");
        l3test::WriteFile(dir / "s.mp3", stream);
        for (auto peer : {l3test::Peer::kFfmpeg, l3test::Peer::kMpg123}) {
            const auto run = l3test::PeerDecode(peer, dir / "s.mp3", dir / "s.raw", dir / "s.err", true);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(l3test::WithoutDurationNote(run.err), "");
            if (peer != l3test::Peer::kMpg123) continue;
            const auto decoded = l3test::ToPcm(l3test::ReadFile(dir / "s.raw"));
            ASSERT_GT(decoded.size(), pcm.size() / 2);
            int lag = 0;
            const double snrLeft = l3test::BestSnr(pcm, decoded, 2, 0, 2400, &lag, 2400);
            const double snrRight = l3test::BestSnr(pcm, decoded, 2, 1, 2400, &lag, 2400);
            const Ratios r = Measure(decoded, lag, c.hz);
            const auto ours = mp3test::DecodeAll(stream);
            EXPECT_TRUE(ours.reachedEof);
            EXPECT_EQ(ours.concealed + ours.lost, 0);
            const Ratios o = Measure(mp3test::AsSamples(ours.pcm), lag, c.hz);
            std::printf("[ intensity ] %s: %zu of %zu frames, %d granules; right of left (input -6.02 dB): "
                        "mpg123 tone %+.2f pink %+.2f, ours tone %+.2f pink %+.2f; SNR left %.1f dB right %.1f dB\n",
                        label, intensityFrames, frames.size(), counts.intensityGranules, r.tone, r.pink, o.tone,
                        o.pink, snrLeft, snrRight);
            EXPECT_NEAR(r.tone, -6.02, 2.0);
            EXPECT_NEAR(r.pink, -6.02, 2.0);
            EXPECT_NEAR(o.tone, -6.02, 2.0);
            EXPECT_NEAR(o.pink, -6.02, 2.0);
        }
    }
}

// Independent noise with clicks, so that short granules (and, with "mixed",
// mixed ones) carry intensity bands too: the streams decode without a word in
// ffmpeg (CRC checked, the strictest peer) and without a concealed frame in ours.
TEST(IsChan, ShortAndMixedIntensityGranulesDecodeCleanly) {
    if (!l3test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    struct Blocks {
        Case c;
        bool mixed;
    };
    for (const Blocks& blocks : {Blocks{{32000, 64000}, false}, Blocks{{22050, 48000}, true}}) {
        const Case& c = blocks.c;
        const bool mixed = blocks.mixed;
        char label[48];
        std::snprintf(label, sizeof label, "%d Hz %d bit/s%s", c.hz, c.bitRate, mixed ? " mixed" : "");
        SCOPED_TRACE(label);
        psytest::OptionScope scope;
        if (mixed) scope.Set("mixed");
        const size_t frames = static_cast<size_t>(c.hz) / 2;
        std::vector<int16_t> pcm(2 * frames);
        uint32_t seed = 11;
        for (int16_t& v : pcm) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<int16_t>(static_cast<int32_t>(seed) >> 19);
        }
        for (size_t n = frames / 8; n < frames; n += frames / 8) pcm[2 * n] = pcm[2 * n + 1] = 30000;
        psytest::ModelStreamCounts counts;
        const std::vector<uint8_t> stream = psytest::EncodeModelStream(pcm, c.hz, c.bitRate, 1, &counts);
        EXPECT_GT(counts.shortIntensityGranules, 0);
        CTempDir dir("l3iss");
        l3test::WriteFile(dir / "s.mp3", stream);
        const auto run = l3test::PeerDecode(l3test::Peer::kFfmpeg, dir / "s.mp3", dir / "s.raw", dir / "s.err", true);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(l3test::WithoutDurationNote(run.err), "");
        const auto ours = mp3test::DecodeAll(stream);
        EXPECT_TRUE(ours.reachedEof);
        EXPECT_EQ(ours.concealed + ours.lost, 0);
        std::printf("[ intensity ] %s: %d short of %zu granules, %d with intensity, %d of them short\n", label,
                    counts.shortGranules, frames / 576, counts.intensityGranules, counts.shortIntensityGranules);
    }
}
