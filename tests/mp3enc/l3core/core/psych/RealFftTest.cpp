#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mp3enc/l3core/core/psych/AnalysisWindow.h"
#include "mp3enc/l3core/core/psych/RealFft.h"

// The model's two lengths (radix 2 and mixed radix underneath) and an odd
// half-length equal the direct DFT of the real input within 2e-6 of the peak.
TEST(RealFft, EqualsTheDirectTransformOfRealInput) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> v(-1.0f, 1.0f);
    for (const int n : {1024, 256, 90}) {
        std::vector<float> x(n);
        for (float& s : x) s = v(rng);
        std::vector<float> d = x;
        ASSERT_EQ(RealFft(d.data(), n), 1) << n;
        double worst = 0.0, peak = 0.0;
        for (int k = 0; k < n / 2; ++k) {
            std::complex<double> sum = 0.0;
            for (int j = 0; j < n; ++j) sum += double(x[j]) * std::polar(1.0, -2.0 * M_PI * j * k / n);
            if (k == 0) sum = sum.real();
            peak = std::max(peak, std::abs(sum));
            worst = std::max(worst, std::abs(sum - std::complex<double>(d[2 * k], d[2 * k + 1])));
        }
        EXPECT_LT(worst, 2e-6 * peak) << n << " seed 3";
    }
    float small[6] = {};
    EXPECT_EQ(RealFft(small, 3), 0);
    EXPECT_EQ(RealFft(small, 2), 0);
}

TEST(AnalysisWindow, IsSinSquaredAndRefusesAnUnknownType) {
    AnalysisWindow* w = nullptr;
    ASSERT_EQ(CreateAnalysisWindow(&w, 0, 1024), nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_NEAR(w->values[0], std::pow(std::sin(M_PI * 0.5 / 1024), 2), 1e-9);
    EXPECT_FLOAT_EQ(w->values[511], w->values[512]);
    EXPECT_FLOAT_EQ(w->values[3], w->values[1020]);
    std::vector<float> data(1024, 2.0f);
    ApplyAnalysisWindow(w, data.data());
    EXPECT_FLOAT_EQ(data[100], 2.0f * w->values[100]);
    DeleteAnalysisWindow(w);
    DeleteAnalysisWindow(nullptr);
    EncError* e = CreateAnalysisWindow(&w, 2, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->message, "invalid function parameters");
    ErrorFree(e);
    EXPECT_EXIT(CreateAnalysisWindow(&w, 1, 256), ::testing::ExitedWithCode(20),
                "CalculateWindow\\(\\) called with invalid window type");
}
