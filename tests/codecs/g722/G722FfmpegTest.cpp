// Our G.722 against ffmpeg's g722 as an independent peer: the same input must
// give the same code bytes, and the same code bytes the same samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "codecs/G7xxPeer.h"
#include "codecs/g722/G722Core.h"
#include "codecs/g722/G722Tables.h"

namespace {

using namespace g7xx_test;

class G722FfmpegTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HavePeer("ffmpeg")) GTEST_SKIP() << "ffmpeg not on PATH";
        ASSERT_TRUE(m_dir.Ok());
        m_seed = std::random_device{}();
        std::printf("seed %u\n", m_seed);
    }

    std::vector<uint8_t> FfmpegEncode(const std::vector<int16_t>& pcm) {
        EXPECT_TRUE(WriteSamples(m_dir / "in.raw", pcm));
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f s16le -ar 16000 -ac 1 -i " + (m_dir / "in.raw") +
                             " -c:a g722 -f g722 " + (m_dir / "out.g722")),
                  0);
        return ReadBytes(m_dir / "out.g722");
    }

    std::vector<int16_t> FfmpegDecode(const std::vector<uint8_t>& coded) {
        EXPECT_TRUE(WriteBytes(m_dir / "in.g722", coded.data(), coded.size()));
        EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f g722 -i " + (m_dir / "in.g722") + " -f s16le -ac 1 " +
                             (m_dir / "out.raw")),
                  0);
        return ReadSamples(m_dir / "out.raw");
    }

    // Speech-band sweep, silence, white noise of the test's seed (its sub-band
    // signals stay inside 15 bits), then a full-scale square whose QMF output
    // overshoots the 15-bit range: 4 s in all.
    std::vector<int16_t> TestSignal() const {
        std::vector<int16_t> s;
        double phase = 0;
        for (int i = 0; i < 16000; ++i) {
            phase += 2 * 3.14159265358979 * (50.0 + 7900.0 * i / 16000) / 16000;
            s.push_back(static_cast<int16_t>(std::lround(20000 * std::sin(phase))));
        }
        s.insert(s.end(), 8000, 0);
        std::mt19937 rng(m_seed);
        std::uniform_int_distribution<int> d(-20000, 20000);
        for (int i = 0; i < 24000; ++i) s.push_back(static_cast<int16_t>(d(rng)));
        for (int i = 0; i < 16000; ++i) s.push_back((i / 3) % 2 ? 32767 : -32768);
        return s;
    }

    CScratchDir m_dir;
    uint32_t m_seed = 0;
};

size_t CountDifferences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
    return n;
}

// The first sample pair whose QMF analysis leaves the 15-bit range, computed
// here directly from the filter taps; size/2 when none does.
size_t FirstPairOutOfRange(const std::vector<int16_t>& pcm) {
    std::vector<int32_t> x(24, 0);
    for (size_t pair = 0; 2 * pair + 1 < pcm.size(); ++pair) {
        x.insert(x.begin(), {pcm[2 * pair + 1], pcm[2 * pair]});
        x.resize(24);
        int32_t even = 0, odd = 0;
        for (int i = 0; i < 12; ++i) {
            even += g722::kQmfCoefficients[2 * i] * x[static_cast<size_t>(2 * i)];
            odd += g722::kQmfCoefficients[2 * i + 1] * x[static_cast<size_t>(2 * i + 1)];
        }
        const int32_t low = (even + odd) >> 14, high = (even - odd) >> 14;
        if (low > 16383 || low < -16384 || high > 16383 || high < -16384) return pair;
    }
    return pcm.size() / 2;
}

// ffmpeg's encoder does not limit the sub-band signals of its QMF analysis to
// -16384..16383 as G.722 does (it only saturates them to 16 bits), so near
// full scale at high frequencies it quantises a different signal from there on.
// Up to the first pair that leaves the 15-bit range the bytes must be
// identical; the rest is counted and printed.
TEST_F(G722FfmpegTest, EncoderBytesMatchFfmpeg) {
    const std::vector<int16_t> pcm = TestSignal();
    g722::EncoderState state;
    g722::Reset(state);
    std::vector<uint8_t> ours;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) ours.push_back(g722::EncodePair(state, pcm[i], pcm[i + 1]));
    const std::vector<uint8_t> theirs = FfmpegEncode(pcm);
    ASSERT_EQ(theirs.size(), ours.size());
    const size_t limit = FirstPairOutOfRange(pcm);
    ASSERT_GE(limit, 24000u) << "only the final square may overshoot";
    ASSERT_LT(limit, ours.size()) << "the square must overshoot";
    size_t first = 0;
    while (first < ours.size() && ours[first] == theirs[first]) ++first;
    std::printf("encoder: the first %zu code bytes are identical to ffmpeg's; the QMF leaves 15 bits at byte %zu;"
                " %zu of the %zu bytes from there differ\n",
                first, limit, CountDifferences(std::vector<uint8_t>(ours.begin() + static_cast<long>(limit), ours.end()),
                                               std::vector<uint8_t>(theirs.begin() + static_cast<long>(limit), theirs.end())),
                ours.size() - limit);
    EXPECT_GE(first, limit);
}

TEST_F(G722FfmpegTest, DecoderSamplesMatchFfmpeg) {
    // ffmpeg's own code bytes for the test signal, then arbitrary bytes
    // (including the lower codes 0 to 3 that no encoder sends).
    std::vector<uint8_t> coded = FfmpegEncode(TestSignal());
    ASSERT_FALSE(coded.empty());
    std::mt19937 rng(m_seed);
    for (int i = 0; i < 16000; ++i) coded.push_back(static_cast<uint8_t>(rng()));
    g722::DecoderState state;
    g722::Reset(state);
    std::vector<int16_t> ours;
    for (const uint8_t c : coded) {
        int16_t a = 0, b = 0;
        g722::DecodeByte(state, c, &a, &b);
        ours.push_back(a);
        ours.push_back(b);
    }
    const std::vector<int16_t> theirs = FfmpegDecode(coded);
    ASSERT_EQ(theirs.size(), ours.size());
    size_t differ = 0;
    int maxDiff = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        const int d = std::abs(ours[i] - theirs[i]);
        differ += d != 0;
        maxDiff = std::max(maxDiff, d);
    }
    std::printf("decoder: %zu of %zu samples differ from ffmpeg (largest %d)\n", differ, ours.size(), maxDiff);
    EXPECT_EQ(differ, 0u);
}

}  // namespace
