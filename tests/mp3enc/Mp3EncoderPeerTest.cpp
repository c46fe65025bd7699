#include <gtest/gtest.h>

#include "Mp3EncTestSupport.h"

using namespace l3test;

TEST(Mp3EncoderPeer, SineAt48kStereoDecodesCleanly) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    CTempDir dir;
    const auto pcm = Tones(48000, 2, 2.0, {{1000, 0.5}}, {{1500, 0.3}});
    EncodeSettings s;
    const EncodeResult r = Encode(pcm, s);
    ASSERT_TRUE(r.opened);
    bool clean = false;
    const auto frames = ParseFrames(r.stream, &clean);
    EXPECT_TRUE(clean);
    const std::string mp3 = dir.File("a.mp3"), raw = dir.File("a.raw");
    WriteFile(mp3, r.stream);
    const RunResult run = PeerDecode(Peer::kFfmpeg, mp3, raw, dir.File("err"), false);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (Peer peer : {Peer::kMpg123, Peer::kSox}) {
        const RunResult r2 = PeerDecode(peer, mp3, raw + "2", dir.File("err2"), false);
        std::printf("peer status %d err [%s] bytes %zu\n", r2.status, r2.err.c_str(), ReadFile(raw + "2").size());
        const auto d2 = ToPcm(ReadFile(raw + "2"));
        int lag2 = 0;
        std::vector<int16_t> click(pcm.size());
        std::printf("snr %.1f\n", BestSnr(pcm, d2, 2, 0, 3000, &lag2, 4800));
    }
    const auto dec = ToPcm(ReadFile(raw));
    int lag = 0;
    const double snr = BestSnr(pcm, dec, 2, 0, 3000, &lag, 4800);
    std::printf("frames %zu bytes %zu snr %.1f dB lag %d delay %d\n", frames.size(), r.stream.size(), snr, lag, r.delay);
}

TEST(Mp3EncoderPeer, DelayProbe) {
    CTempDir dir;
    std::vector<int16_t> pcm(48000 * 2, 0);
    uint32_t seed = 1;
    for (auto& v : pcm) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<int16_t>((static_cast<int>(seed >> 16) & 0x3FFF) - 0x2000);
    }
    EncodeSettings s;
    const EncodeResult r = Encode(pcm, s);
    WriteFile(dir.File("a.mp3"), r.stream);
    PeerDecode(Peer::kMpg123, dir.File("a.mp3"), dir.File("a.raw"), dir.File("e"), false);
    const auto d = ToPcm(ReadFile(dir.File("a.raw")));
    int lag = 0;
    const double snr = BestSnr(pcm, d, 2, 0, 3000, &lag, 4800);
    std::printf("lag %d snr %.1f\n", lag, snr);
}
