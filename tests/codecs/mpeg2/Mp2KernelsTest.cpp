#include "codecs/mpeg2/Mp2Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "support/FloatPatterns.h"

namespace {

std::vector<EVectorPath> VectorPaths() {
    std::vector<EVectorPath> paths;
    for (EVectorPath p : {EVectorPath::Sse2, EVectorPath::Avx2})
        if (VectorPathSupported(p)) paths.push_back(p);
    return paths;
}

// Every rounding and limiting case, then ordinary values; n is odd so the
// tail after the last whole vector is converted too.
std::vector<float> Samples(uint32_t seed, int n) {
    std::vector<float> v = {0.5f,      1.5f,     2.5f,     -0.5f,    -1.5f,     -2.5f,     32766.5f,  32767.0f,
                            32767.4f,  32767.6f, 32768.0f, 40000.0f, 1e9f,      -32767.5f, -32768.0f, -32768.5f,
                            -32769.f,  -1e9f,    0.0f,     -0.0f,    0.49999f,  -0.4999f,  123.25f,   -7.75f,
                            std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 16777215.0f};
    for (float x : PatternValues(n, seed)) v.push_back(x * 70000.0f);
    v.resize(static_cast<size_t>(n));
    return v;
}

TEST(Mp2Kernels, EveryPathThisProcessorRunsGivesTheScalarBits) {
    const SMp2Kernels& scalar = Mp2Kernels(EVectorPath::Scalar);
    const std::vector<EVectorPath> paths = VectorPaths();
#if defined(__x86_64__)
    EXPECT_FALSE(paths.empty()) << "every x86-64 processor has SSE2";
#endif
    constexpr int kN = 1155;
    for (EVectorPath path : paths) {
        const SMp2Kernels& k = Mp2Kernels(path);
        EXPECT_NE(&k, &scalar) << VectorPathName(path) << " runs here but fell back to the scalar set";
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            SCOPED_TRACE(testing::Message() << VectorPathName(path) << ", seed " << seed);
            const std::vector<float> left = Samples(seed, kN);
            const std::vector<float> right = Samples(seed + 50, kN);
            const std::vector<float> c = PatternValues(512, seed + 100);
            const std::vector<float> h = PatternValues(512, seed + 200);
            std::vector<float> y0(64), y1(64);
            scalar.analysisWindow(c.data(), h.data(), y0.data());
            k.analysisWindow(c.data(), h.data(), y1.data());
            EXPECT_TRUE(SameBits(y0, y1)) << "analysis window";
            const std::vector<float> a = PatternValues(32, seed + 300);
            const std::vector<float> m = PatternValues(512, seed + 400);
            std::vector<float> o0(32), o1(32);
            scalar.analysisMatrix(a.data(), m.data(), o0.data());
            k.analysisMatrix(a.data(), m.data(), o1.data());
            EXPECT_TRUE(SameBits(o0, o1)) << "analysis matrix";
            for (const float* r : {static_cast<const float*>(nullptr), right.data()}) {
                std::vector<int16_t> a(2 * kN, 0x5A5A), b(2 * kN, 0x5A5A);
                scalar.pcm16(left.data(), r, a.data(), kN);
                k.pcm16(left.data(), r, b.data(), kN);
                EXPECT_EQ(a, b) << (r ? "stereo" : "mono") << " samples";
            }
        }
    }
}

TEST(Mp2Kernels, SamplesRoundHalfToEvenStopAtTheEdgesAndNanIsSilence) {
    const float in[] = {0.5f, 1.5f, -2.5f, 32767.6f, -32768.6f, 1e9f, -1e9f, 3.49f, -3.51f,
                        std::numeric_limits<float>::quiet_NaN()};
    const int16_t want[] = {0, 2, -2, 32767, -32768, 32767, -32768, 3, -4, 0};
    for (EVectorPath path : {EVectorPath::Scalar, BestVectorPath()}) {
        std::vector<float> left(16, 0.0f);
        std::copy(std::begin(in), std::end(in), left.begin());
        std::vector<int16_t> out(16, 99);
        Mp2Kernels(path).pcm16(left.data(), nullptr, out.data(), 16);
        for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(out[i], want[i]) << VectorPathName(path) << " " << i;
    }
}

}  // namespace
