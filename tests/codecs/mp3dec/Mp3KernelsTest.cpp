#include "codecs/mp3dec/Mp3Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/FloatPatterns.h"

namespace {

// Samples around every rounding and limiting case: ties, the 16-bit edges and
// far beyond them, plus ordinary values.
std::vector<float> Samples(uint32_t seed) {
    std::vector<float> v = {0.5f,     1.5f,     2.5f,     -0.5f,     -1.5f,    -2.5f,    32766.5f, 32767.0f,
                            32767.4f, 32767.6f, 32768.0f, 40000.0f,  1e9f,     -32767.5f, -32768.0f, -32768.5f,
                            -32769.f, -1e9f,    0.0f,     -0.0f,     0.49999f, -0.4999f, 123.25f,  -7.75f};
    const std::vector<float> more = PatternValues(64, seed);
    for (float x : more) v.push_back(x * 70000.0f);
    v.resize(64);
    return v;
}

std::vector<EVectorPath> VectorPaths() {
    std::vector<EVectorPath> paths;
    for (EVectorPath p : {EVectorPath::Sse2, EVectorPath::Avx2})
        if (VectorPathSupported(p)) paths.push_back(p);
    return paths;
}

TEST(Mp3Kernels, EveryPathThisProcessorRunsGivesTheScalarBits) {
    const SMp3Kernels& scalar = Mp3Kernels(EVectorPath::Scalar);
    const std::vector<EVectorPath> paths = VectorPaths();
#if defined(__x86_64__)
    EXPECT_FALSE(paths.empty()) << "every x86-64 processor has SSE2";
#endif
    for (EVectorPath path : paths) {
        const SMp3Kernels& k = Mp3Kernels(path);
        EXPECT_NE(&k, &scalar) << VectorPathName(path) << " runs here but fell back to the scalar set";
        for (uint32_t seed = 1; seed <= 40; ++seed) {
            SCOPED_TRACE(testing::Message() << VectorPathName(path) << ", seed " << seed);
            const std::vector<float> v = PatternValues(1024, seed);
            const std::vector<float> w = PatternValues(512, seed + 100);
            float a[32];
            float b[32];
            scalar.window(v.data(), w.data(), a);
            k.window(v.data(), w.data(), b);
            EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << "window";

            const std::vector<float> in = PatternValues(18, seed + 200);
            const std::vector<float> cos = PatternValues(360, seed + 300);
            float s0[20];
            float s1[20];
            scalar.imdctSums(in.data(), cos.data(), s0);
            k.imdctSums(in.data(), cos.data(), s1);
            EXPECT_EQ(std::memcmp(s0, s1, sizeof s0), 0) << "IMDCT sums";

            const std::vector<float> pcm = Samples(seed);
            for (const float* right : {static_cast<const float*>(nullptr), pcm.data() + 32}) {
                uint8_t o0[128];
                uint8_t o1[128];
                std::memset(o0, 0xA5, sizeof o0);
                std::memset(o1, 0xA5, sizeof o1);
                scalar.pcm16(pcm.data(), right, o0);
                k.pcm16(pcm.data(), right, o1);
                EXPECT_EQ(std::memcmp(o0, o1, sizeof o0), 0) << (right ? "stereo" : "mono") << " samples";
            }
        }
    }
}

TEST(Mp3Kernels, SamplesRoundHalfToEvenAndStopAtTheSixteenBitEdges) {
    std::vector<float> left(32, 0.0f);
    std::vector<float> right(32, 0.0f);
    const float in[] = {0.5f, 1.5f, -2.5f, 32767.6f, -32768.6f, 1e9f, -1e9f, 3.49f};
    const int16_t wantLeft[] = {0, 2, -2, 32767, -32768, 32767, -32768, 3};
    const int16_t wantRight[] = {0, -2, 2, -32768, 32767, -32768, 32767, -3};
    for (int i = 0; i < 8; ++i) {
        left[static_cast<size_t>(i)] = in[i];
        right[static_cast<size_t>(31 - i)] = -in[i];
    }
    uint8_t out[128];
    Mp3Kernels(BestVectorPath()).pcm16(left.data(), right.data(), out);
    auto at = [&out](int i) { return static_cast<int16_t>(out[2 * i] | out[2 * i + 1] << 8); };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(at(2 * i), wantLeft[i]) << "left " << i;
        EXPECT_EQ(at(2 * (31 - i) + 1), wantRight[i]) << "right " << i;
    }
}

}  // namespace
