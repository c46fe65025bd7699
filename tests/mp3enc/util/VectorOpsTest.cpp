#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mp3enc/util/VectorOps.h"

namespace {
struct SseFlag {
    explicit SseFlag(int on) { VecSetSse(on); }
    ~SseFlag() { VecSetSse(0); }
};

// 16-byte aligned storage with room to misalign by one float.
struct Arrays {
    alignas(16) float x[64], y[64], z[64];
    Arrays() {
        for (int i = 0; i < 64; ++i) {
            x[i] = std::sin(0.37f * i) * 100.0f;
            y[i] = 1.5f + std::cos(0.11f * i);
            z[i] = -7.0f;
        }
    }
};
}  // namespace

// Both paths give the same results, with and without alignment, for the
// counts that exercise the blocks of 8 and the single tail.
TEST(VectorOps, SseAndPlainPathsAgreeAlignedAndMisaligned) {
    for (int n : {0, 1, 7, 8, 13, 31}) {
        for (int offset : {0, 1}) {
            Arrays plain, fast;
            {
                SseFlag off(0);
                VecAdd(plain.x + offset, plain.y + offset, plain.z + offset, n);
            }
            {
                SseFlag on(1);
                VecAdd(fast.x + offset, fast.y + offset, fast.z + offset, n);
            }
            EXPECT_EQ(std::memcmp(plain.z, fast.z, sizeof plain.z), 0) << "add n " << n << " offset " << offset;
            SseFlag on(1);
            Arrays a;
            VecMul(a.x + offset, a.y + offset, a.z + offset, n);
            for (int i = 0; i < n; ++i) EXPECT_FLOAT_EQ(a.z[offset + i], a.x[offset + i] * a.y[offset + i]);
            VecScale(0.5f, a.x + offset, a.z + offset, n);
            for (int i = 0; i < n; ++i) EXPECT_FLOAT_EQ(a.z[offset + i], 0.5f * a.x[offset + i]);
            VecDiv(a.x + offset, a.y + offset, a.z + offset, n);
            for (int i = 0; i < n; ++i) EXPECT_NEAR(a.z[offset + i], a.x[offset + i] / a.y[offset + i], 1e-3);
            VecAbs(a.x + offset, a.z + offset, n);
            for (int i = 0; i < n; ++i) EXPECT_EQ(a.z[offset + i], std::fabs(a.x[offset + i]));
            double dot = 0;
            for (int i = 0; i < n; ++i) dot += double(a.x[offset + i]) * a.y[offset + i];
            EXPECT_NEAR(VecDot(a.x + offset, a.y + offset, n), dot, 1e-2);
        }
    }
}

TEST(VectorOps, ClipMinMaxFillAndTheTranscendentals) {
    SseFlag on(1);
    alignas(16) float in[4] = {-2.0f, 0.5f, 3.0f, 1.0f}, out[4];
    VecClip(0.0f, 1.0f, in, out, 4);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.5f);
    EXPECT_EQ(out[2], 1.0f);
    alignas(16) float e[5] = {0.0f, 1.0f, -1.0f, 10.0f, -20.0f}, r[5];
    VecExp(e, r, 5);
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(r[i] / std::exp(e[i]), 1.0f, 1e-5f);
    VecLog(2.0f, 3.0f, in + 1, r, 3);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(r[i], 2.0 * std::log(3.0 * in[1 + i]), 1e-5);
    int32_t ints[3] = {-5, 0, 7}, abs[3];
    VecAbsInt(ints, abs, 3);
    EXPECT_EQ(abs[0], 5);
    EXPECT_EQ(abs[2], 7);
    float pairs[4] = {3, 4, 1, 1}, power[2];
    VecPowerSpectrum(pairs, power, 2);
    EXPECT_EQ(power[0], 25.0f);
    EXPECT_EQ(VecEnergy(pairs, 4), 27.0f);
    uint32_t one;
    const float f1 = 1.0f;
    std::memcpy(&one, &f1, 4);
    VecFill(one, out, 4);
    EXPECT_EQ(out[3], 1.0f);
    VecMinStrided(pairs, 2, pairs + 1, 2, power, 1, 2);
    EXPECT_EQ(power[0], 3.0f);
}
