#include "codecs/MulAdd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/FloatPatterns.h"

namespace {

#if defined(__SSE2__)
TEST(MulAddTest, Sse2PathsGiveTheScalarBitsForEveryLength) {
    for (int n : {4, 16, 20, 32}) {
        for (uint32_t seed = 1; seed <= 50; ++seed) {
            const std::vector<float> a = PatternValues(n, seed);
            const std::vector<float> b = PatternValues(n, seed + 1000);
            const std::vector<float> start = PatternValues(n, seed + 2000);
            const float x = PatternValues(1, seed + 3000)[0];

            std::vector<float> scalar = start;
            std::vector<float> vector = start;
            muladd::ProductsScalar(scalar.data(), a.data(), b.data(), n);
            muladd::ProductsSse2(vector.data(), a.data(), b.data(), n);
            EXPECT_TRUE(SameBits(scalar, vector)) << "products, n " << n << ", seed " << seed;

            scalar = start;
            vector = start;
            muladd::ScaledScalar(scalar.data(), x, b.data(), n);
            muladd::ScaledSse2(vector.data(), x, b.data(), n);
            EXPECT_TRUE(SameBits(scalar, vector)) << "scaled, n " << n << ", seed " << seed;
        }
    }
}
#endif

TEST(MulAddTest, ChosenPathsAccumulateOntoWhatIsThere) {
    std::vector<float> acc = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f};
    const std::vector<float> a = {1.0f, -1.0f, 0.5f, 0.0f, 2.0f, 3.0f, -4.0f, 0.25f};
    const std::vector<float> b = {2.0f, 2.0f, 2.0f, 2.0f, -1.0f, 1.0f, 0.5f, 4.0f};
    muladd::Products(acc.data(), a.data(), b.data(), 8);
    EXPECT_EQ(acc, (std::vector<float>{3.0f, 0.0f, 4.0f, 4.0f, 3.0f, 9.0f, 5.0f, 9.0f}));
    muladd::Scaled(acc.data(), -2.0f, b.data(), 8);
    EXPECT_EQ(acc, (std::vector<float>{-1.0f, -4.0f, 0.0f, 0.0f, 5.0f, 7.0f, 4.0f, 1.0f}));
}

}  // namespace
