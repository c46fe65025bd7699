#include "codecs/SubbandDct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

TEST(SubbandDct, BuildPathGivesThePortableBitsAndBothAreTheDct) {
    const CSubbandDct dct;
    const double pi = 3.14159265358979323846;
    uint32_t seed = 7;
    for (int n : {16, 32}) {
        for (int trial = 0; trial < 200; ++trial) {
            float in[32];
            for (int i = 0; i < n; ++i) {
                seed = seed * 1664525u + 1013904223u;
                const float m = static_cast<float>((seed >> 8) & 0xFFFF) / 65536.0f - 0.5f;
                in[i] = (seed & 0x70) == 0 ? 0.0f : std::ldexp(m, static_cast<int>(seed >> 28) - 4);
            }
            float fast[32];
            float portable[32];
            std::memcpy(fast, in, sizeof in);
            std::memcpy(portable, in, sizeof in);
            dct.Run(fast, n);
            dct.RunPortable(portable, n);
            ASSERT_EQ(std::memcmp(fast, portable, sizeof(float) * static_cast<size_t>(n)), 0)
                << n << " points, trial " << trial << ", seed " << seed;
            double peak = 0;
            for (int i = 0; i < n; ++i) peak = std::max(peak, std::fabs(static_cast<double>(in[i])));
            for (int k = 0; k < n; ++k) {
                double want = 0;
                for (int i = 0; i < n; ++i) want += in[i] * std::cos(pi * (2 * i + 1) * k / (2.0 * n));
                ASSERT_NEAR(fast[k], want, 1e-5 * n * peak + 1e-30) << n << " points, X[" << k << "]";
            }
        }
    }
}

}  // namespace
