#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/L3Tables.h"
#include "mp3enc/Mp3EncTestSupport.h"
#include "mp3enc/l3core/core/bitmux/BitstreamEncoder.h"
#include "mp3enc/l3core/core/quant/LoopKernel.h"
#include "support/TempDir.h"

namespace {

constexpr float kLongRecord[11] = {0, 0, 0, 0.25f, 0.9f, 0.05f, 0.25f, 0.2f, 0.9f, -0.1f, 0.4f};
constexpr float kShortRecord[11] = {0, 0, 0, 0.02f, 0.35f, -0.2f, 0.03f, 0.02f, 0.6f, -0.01f, 1.3f};

// Granules of a steady tone with quiet noise above it, quantised by the loop
// to the writer's budgets and written as a stream.
std::vector<uint8_t> EncodeTone(int hz, int bitRate, int stereoMode, int frames, double* worstRatio) {
    BitstreamEncoder* writer = nullptr;
    EXPECT_EQ(CreateBitstreamEncoder(hz, bitRate, 0, 1, 0, 0, 1, 0, stereoMode, 0, &writer), nullptr);
    const int channels = stereoMode == 3 ? 1 : 2;
    LoopKernel* loop = CreateLoopKernel(hz, channels);
    EXPECT_NE(loop, nullptr);
    std::vector<uint8_t> stream;
    if (!writer || !loop) return stream;
    int row = 0;
    for (int i = 0; i < 9; ++i)
        if (l3tables::kSfbRateHz[i] == hz) row = i;
    const int16_t* start = l3tables::kSfbLong[row];
    const int granules = hz > 24000 ? 2 : 1;
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> spectrum(576), thrLong(kLongBands), thrShort(kShortBands, 1.0f);
    float energy[22], allowed[22];
    DemandParam longSet = DemandParamFromRecord(kLongRecord), shortSet = DemandParamFromRecord(kShortRecord);
    std::vector<uint8_t> out(8000);
    *worstRatio = 0.0;
    for (int f = 0; f < frames; ++f) {
        int budgets[4] = {0, 0, 0, 0};
        for (int g = 0; g < granules; ++g) {
            for (int k = 0; k < 576; ++k) spectrum[k] = k < 300 ? 40.0f * u(rng) : 0.0f;
            spectrum[81] = 20000.0f;
            for (int b = 0; b < 22; ++b) {
                energy[b] = 0.0f;
                for (int k = start[b]; k < start[b + 1]; ++k) energy[b] += spectrum[k] * spectrum[k];
                allowed[b] = energy[b] > 0.0f ? 0.05f * energy[b] : 1.0f;
                if (b < kLongBands) thrLong[b] = allowed[b];
            }
            PsyGranule p{};
            p.channels = channels;
            p.granule = g;
            LoopGranuleInput in{};
            in.channels = channels;
            in.granule = g;
            for (int c = 0; c < channels; ++c) {
                p.channel[c] = {0, spectrum.data(), thrLong.data(), {thrShort.data(), thrShort.data(), thrShort.data()}, 0, 0};
                in.channel[c] = {0, spectrum.data(), energy, allowed, {}, {}, nullptr};
            }
            p.demandLong = &longSet;
            p.demandShort = &shortSet;
            EXPECT_EQ(AdvanceBitstreamEncoder(writer, &p, 0, budgets), 1);
            EXPECT_EQ(AdvanceLoopKernel(loop, in, budgets), 1);
        }
        for (int m = 0; m < 4; ++m)
            if (m % 2 < channels && m / 2 < granules) {
                *worstRatio = std::max(*worstRatio, static_cast<double>(loop->frame.info[m].maxRatio));
                EXPECT_LE(loop->frame.part23Length[m], 4095);
            }
        int n = 0;
        WriteBitstream(writer, &loop->frame, nullptr, nullptr, &n, out.data(), static_cast<int>(out.size()));
        stream.insert(stream.end(), out.begin(), out.begin() + n);
    }
    int n = 0;
    FlushBitstreamEncoder(writer, &n, out.data(), static_cast<int>(out.size()));
    stream.insert(stream.end(), out.begin(), out.begin() + n);
    DeleteLoopKernel(loop);
    DeleteBitstreamEncoder(writer);
    return stream;
}

}  // namespace

// The loop's scale factors, scalefac_compress, preflag and gains, written by
// the bitstream encoder, decode cleanly in both peers at an MPEG-1 and a
// lower rate, and the tone comes out where it went in.
TEST(LoopKernel, QuantisedFramesDecodeCleanlyInPeers) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
    struct Case {
        int hz, rate, mode, frames;
    };
    for (const Case& c : {Case{44100, 128000, 1, 16}, Case{22050, 64000, 3, 24}}) {
        SCOPED_TRACE(c.hz);
        double worst = 0.0;
        const std::vector<uint8_t> stream = EncodeTone(c.hz, c.rate, c.mode, c.frames, &worst);
        bool clean = false;
        const auto frames = l3test::ParseFrames(stream, &clean);
        EXPECT_TRUE(clean);
        EXPECT_EQ(static_cast<int>(frames.size()), c.frames);
        std::printf("%d Hz %d bit/s: largest noise-to-allowed ratio %.2f\n", c.hz, c.rate, worst);
        CTempDir dir("l3loop");
        l3test::WriteFile(dir / "s.mp3", stream);
        for (auto peer : {l3test::Peer::kFfmpeg, l3test::Peer::kMpg123}) {
            const auto run = l3test::PeerDecode(peer, dir / "s.mp3", dir / "s.raw", dir / "s.err", true);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(l3test::WithoutDurationNote(run.err), "");
            const auto pcm = l3test::ToPcm(l3test::ReadFile(dir / "s.raw"));
            const int channels = c.mode == 3 ? 1 : 2;
            const int spf = c.hz > 24000 ? 1152 : 576;
            EXPECT_EQ(pcm.size(), static_cast<size_t>(c.frames) * spf * channels);
            // Power at the tone's line against its neighbours' lines.
            auto power = [&](double line) {
                const double w = 2.0 * M_PI * (line + 0.5) / 1152.0;
                double re = 0.0, im = 0.0;
                for (size_t i = 0; i < pcm.size() / channels; ++i) {
                    re += pcm[i * channels] * std::cos(w * i);
                    im += pcm[i * channels] * std::sin(w * i);
                }
                return re * re + im * im;
            };
            EXPECT_GT(power(81), 100.0 * power(150));
        }
    }
}
