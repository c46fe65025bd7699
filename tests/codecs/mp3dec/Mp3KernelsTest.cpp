#include "codecs/mp3dec/Mp3Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/SubbandDct.h"
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

            // The matrixing: all 32 subbands and the 16 of half rate; only the 18 real slots count.
            const std::vector<float> time = PatternValues(mp3kernels::kTimeFloats, seed + 400);
            for (int subbands : {32, 16}) {
                std::vector<float> x0(32 * mp3kernels::kDctSlots, 7.0f);
                std::vector<float> x1(32 * mp3kernels::kDctSlots, 7.0f);
                scalar.dct32(time.data(), subbands, x0.data());
                k.dct32(time.data(), subbands, x1.data());
                EXPECT_EQ(std::memcmp(x0.data(), x1.data(), 32 * 18 * sizeof(float)), 0) << "DCT of " << subbands;
            }
            const std::vector<float> coefficients = PatternValues(32, seed + 500);
            std::vector<float> v0(1088, 3.0f);
            std::vector<float> v1(1088, 3.0f);
            scalar.block(coefficients.data(), v0.data());
            k.block(coefficients.data(), v1.data());
            EXPECT_EQ(std::memcmp(v0.data(), v1.data(), v0.size() * sizeof(float)), 0) << "V block";

            const std::vector<float> sums = PatternValues(20, seed + 600);
            const std::vector<float> window = PatternValues(36, seed + 700);
            std::vector<float> lap0 = PatternValues(18, seed + 800);
            std::vector<float> lap1 = lap0;
            float out0[18];
            float out1[18];
            scalar.long36(sums.data(), window.data(), lap0.data(), out0);
            k.long36(sums.data(), window.data(), lap1.data(), out1);
            EXPECT_EQ(std::memcmp(out0, out1, sizeof out0), 0) << "long block output";
            EXPECT_EQ(lap0, lap1) << "long block overlap";

            std::vector<float> xr0 = PatternValues(576, seed + 900);
            std::vector<float> xr1 = xr0;
            const std::vector<float> cs = PatternValues(8, seed + 1000);
            const std::vector<float> ca = PatternValues(8, seed + 1100);
            const int boundaries = static_cast<int>(seed % 32);
            scalar.alias(xr0.data(), boundaries, cs.data(), ca.data());
            k.alias(xr1.data(), boundaries, cs.data(), ca.data());
            EXPECT_EQ(std::memcmp(xr0.data(), xr1.data(), 576 * sizeof(float)), 0) << "alias reduction, " << boundaries;

            // Requantisation: signs, zeros and magnitudes past the table's end, at every length up to a band.
            std::vector<int32_t> val(22);
            uint32_t rng = seed;
            for (int32_t& x : val) {
                rng = rng * 1664525u + 1013904223u;
                x = static_cast<int32_t>(rng >> 16) % 9000 - 4500;
                if ((rng & 3) == 0) x = 0;
            }
            const std::vector<float> pow43 = PatternValues(4000, seed + 1200);
            std::vector<float> table = pow43;
            table[0] = 0.0f;
            for (int n = 0; n <= 22; ++n) {
                std::vector<float> q0(22, 5.0f);
                std::vector<float> q1(22, 5.0f);
                scalar.requantize(val.data(), n, 0.625f, table.data(), 3999, q0.data());
                k.requantize(val.data(), n, 0.625f, table.data(), 3999, q1.data());
                EXPECT_TRUE(SameBits(q0, q1)) << "requantisation of " << n << " lines";
            }

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

// The granule-wide matrixing gives, slot by slot, the bits of the one-slot DCT
// the Layer II decoder runs.
TEST(Mp3Kernels, MatrixingOfEverySlotIsTheSubbandDct) {
    const CSubbandDct dct;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        const std::vector<float> time = PatternValues(mp3kernels::kTimeFloats, seed);
        for (int subbands : {32, 16, 8}) {
            std::vector<float> x(32 * mp3kernels::kDctSlots);
            Mp3Kernels(EVectorPath::Scalar).dct32(time.data(), subbands, x.data());
            for (int t = 0; t < 18; ++t) {
                float want[32];
                for (int s = 0; s < 32; ++s) want[s] = s < subbands ? time[static_cast<size_t>(18 * s + t)] : 0.0f;
                dct.RunPortable(want, 32);
                EXPECT_EQ(std::memcmp(want, x.data() + 32 * t, sizeof want), 0) << "seed " << seed << ", slot " << t;
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
