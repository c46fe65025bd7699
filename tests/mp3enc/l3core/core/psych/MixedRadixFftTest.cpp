#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mp3enc/l3core/core/psych/MixedRadixFft.h"

TEST(MixedRadixFft, FactorsAsPlannedAndRefusesWhatItCannotPlan) {
    int f[kFftMaxFactors];
    ASSERT_EQ(FftFactor(512, f), 5);
    EXPECT_EQ(std::vector<int>(f, f + 5), (std::vector<int>{4, 4, 2, 4, 4}));
    ASSERT_EQ(FftFactor(360, f), 6);  // 3 ... 3 for the 9, 2 x 2 for a 4, then 2 and 5
    long long product = 1;
    for (int i = 0; i < 6; ++i) product *= f[i];
    EXPECT_EQ(f[0], 3);
    EXPECT_EQ(f[5], 3);
    EXPECT_EQ(product, 360);
    EXPECT_EQ(FftFactor(1, f), 0);
    EXPECT_EQ(FftFactor(1 << 24, f), 0);  // 12 factors
    float re[4] = {1, 2, 3, 4}, im[4] = {};
    EXPECT_EQ(MixedRadixFft(re, im, 1, -1), 0);
    EXPECT_EQ(MixedRadixFft(re, im, 0, -1), 0);
    EXPECT_EQ(re[0], 1.0f);
}

// Every length the encoder uses, and odd mixes of radices, equal the direct
// DFT within 2e-6 of the largest bin; the inverse brings the input back.
TEST(MixedRadixFft, EqualsTheDirectTransformForwardAndBack) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> v(-1.0f, 1.0f);
    for (const int n : {2, 3, 5, 7, 12, 16, 45, 128, 360, 512, 1024, 49 * 4}) {
        std::vector<float> re(n), im(n);
        for (int i = 0; i < n; ++i) {
            re[i] = v(rng);
            im[i] = v(rng);
        }
        const std::vector<float> re0 = re, im0 = im;
        ASSERT_EQ(MixedRadixFft(re.data(), im.data(), n, -1), 1) << n;
        double peak = 0.0, err = 0.0;
        for (int k = 0; k < n; ++k) {
            std::complex<double> sum = 0.0;
            for (int j = 0; j < n; ++j)
                sum += std::complex<double>(re0[j], im0[j]) * std::polar(1.0, -2.0 * M_PI * j * k / n);
            peak = std::max(peak, std::abs(sum));
            err = std::max(err, std::abs(sum - std::complex<double>(re[k], im[k])));
        }
        EXPECT_LT(err, 2e-6 * peak) << "n " << n << " seed 77";
        ASSERT_EQ(MixedRadixFft(re.data(), im.data(), n, 1), 1);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(re[i] / n, re0[i], 1e-5) << n;
            EXPECT_NEAR(im[i] / n, im0[i], 1e-5) << n;
        }
    }
}
