#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mp3enc/l3core/core/psych/AnalysisWindow.h"
#include "mp3enc/l3core/core/psych/ChaosMeasure.h"
#include "mp3enc/l3core/core/psych/RealFft.h"

namespace {

using Cx = std::complex<double>;
using Spectrum = std::vector<float>;

Cx At(const Spectrum& s, int k) { return {s[2 * k], s[2 * k + 1]}; }

Spectrum Random(std::mt19937& rng, int lines, float scale) {
    std::uniform_real_distribution<float> v(-scale, scale);
    Spectrum s(2 * lines);
    for (float& x : s) x = v(rng);
    return s;
}

// The prediction of each method written in polar form.
double Unpredictability(Cx a, Cx b, Cx z, bool geometric) {
    const double mag = geometric ? std::norm(b) / std::abs(a) : 2 * std::abs(b) - std::abs(a);
    const Cx p = std::polar(mag, 2 * std::arg(b) - std::arg(a));
    return std::abs(z - p) / (std::abs(z) + std::abs(p));
}

// The peak filter written out from its definition over n lines.
std::vector<double> Peaks(const Spectrum& x0, int n) {
    std::vector<double> v(n);
    for (int k = 2; k <= n - 4; ++k) {
        const double m = std::abs(At(x0, k));
        const double d = m - (std::abs(At(x0, k - 2)) + std::abs(At(x0, k + 2))) / 2;
        const double r = std::max(0.0, d / std::max(m, 1.1754944e-38));
        v[k] = std::clamp((r - 1) * (r - 1), 0.0, 1.0);
    }
    v[0] = v[1] = v[2];
    v[n - 3] = v[n - 2] = v[n - 1] = (v[n - 6] + v[n - 5] + v[n - 4]) / 3;
    return v;
}

std::vector<float> Chaos(const Spectrum& x2, const Spectrum& x1, const Spectrum& x0, int n, int comb, int method) {
    std::vector<float> out(n, -1.0f);
    CalculateChaosMeasure(x2.data(), x1.data(), x0.data(), n, comb, 0.7f, method, out.data());
    return out;
}

}  // namespace

TEST(ChaosMeasure, EuclideanMethodsCompareWithTheirExtrapolation) {
    std::mt19937 rng(11);
    const int n = 200;
    const Spectrum x2 = Random(rng, n, 100), x1 = Random(rng, n, 100), x0 = Random(rng, n, 100);
    const auto m0 = Chaos(x2, x1, x0, n, 0, 0);
    const auto m1 = Chaos(x2, x1, x0, n, 0, 1);
    for (int k = 0; k < n; ++k) {
        if (std::norm(At(x2, k)) < 1e-6 || std::norm(At(x1, k)) < 1e-6 || std::norm(At(x0, k)) < 1e-6) continue;
        EXPECT_NEAR(m0[k], Unpredictability(At(x2, k), At(x1, k), At(x0, k), false), 1e-4) << k << " seed 11";
        EXPECT_NEAR(m1[k], Unpredictability(At(x2, k), At(x1, k), At(x0, k), true), 1e-4) << k << " seed 11";
        EXPECT_GE(m0[k], 0.0f);
        EXPECT_LE(m0[k], 1.0f + 1e-6f);
    }
}

TEST(ChaosMeasure, AStationarySineOnALineIsPredictable) {
    AnalysisWindow* w = nullptr;
    ASSERT_EQ(CreateAnalysisWindow(&w, 0, 1024), nullptr);
    std::vector<Spectrum> frames;
    for (int f = 0; f < 3; ++f) {
        Spectrum s(1024);
        for (int i = 0; i < 1024; ++i) s[i] = float(8000 * std::sin(2 * M_PI * 40 * (i + 576.0 * f) / 1024));
        ApplyAnalysisWindow(w, s.data());
        ASSERT_EQ(RealFft(s.data(), 1024), 1);
        frames.push_back(s);
    }
    DeleteAnalysisWindow(w);
    for (const int method : {0, 1, 4}) {
        const auto v = Chaos(frames[0], frames[1], frames[2], 300, 100, method);
        EXPECT_LT(v[40], 0.01f) << method;
    }
}

TEST(ChaosMeasure, SilenceGivesTheDefault) {
    const Spectrum zero(2 * 64, 0.0f);
    for (const int method : {0, 1, 4})
        for (float v : Chaos(zero, zero, zero, 64, 20, method)) EXPECT_EQ(v, 0.7f) << method;
}

TEST(ChaosMeasure, PeakFiltersAgreeWithTheirDefinitionAndEachOther) {
    Spectrum single(2 * 32, 0.0f);
    single[2 * 10] = 1.0f;
    for (const int method : {2, 3}) {
        const auto v = Chaos(single, single, single, 32, 0, method);
        EXPECT_EQ(v[10], 0.0f) << method;
        EXPECT_EQ(v[8], 1.0f) << method;
        EXPECT_EQ(v[12], 1.0f) << method;
    }
    std::mt19937 rng(5);
    for (const int n : {6, 7, 64, 301}) {
        const Spectrum x0 = Random(rng, n, 50);
        const auto peak = Peaks(x0, n);
        const auto m2 = Chaos(x0, x0, x0, n, 0, 2);
        const auto m3 = Chaos(x0, x0, x0, n, 0, 3);
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(m2[k], peak[k], 1e-5) << n << " " << k << " seed 5";
            EXPECT_NEAR(m3[k], peak[k], 1e-5) << n << " " << k << " seed 5";
        }
    }
}

TEST(ChaosMeasure, CombinationTakesTheSmallerBelowItsLimit) {
    std::mt19937 rng(9);
    const int n = 120, comb = 40;
    const Spectrum x2 = Random(rng, n, 10), x1 = Random(rng, n, 10), x0 = Random(rng, n, 10);
    const auto m0 = Chaos(x2, x1, x0, n, comb, 0);
    const auto m4 = Chaos(x2, x1, x0, n, comb, 4);
    const auto peak = Peaks(x0, comb + 5);
    for (int k = 0; k < n; ++k) {
        if (k >= comb) {
            EXPECT_EQ(m4[k], m0[k]) << k;
        } else {
            EXPECT_NEAR(m4[k], std::min<double>(m0[k], peak[k]), 1e-5) << k << " seed 9";
        }
    }
    const auto one = Chaos(x2, x1, x0, n, 1, 4);
    for (int k = 1; k < n; ++k) EXPECT_EQ(one[k], m0[k]);
}

TEST(ChaosMeasure, TooFewLinesReadNothingOutsideTheRange) {
    std::mt19937 rng(2);
    for (const int n : {1, 3, 5}) {
        const Spectrum x = Random(rng, n, 10);
        for (const int method : {2, 3}) {
            const auto v = Chaos(x, x, x, n, 0, method);
            for (float c : v) EXPECT_EQ(c, 0.7f);
        }
        const auto v4 = Chaos(x, x, x, n, 0, 4);
        const auto v0 = Chaos(x, x, x, n, 0, 0);
        EXPECT_EQ(v4, v0);
    }
    float out = 0;
    EXPECT_EXIT(CalculateChaosMeasure(&out, &out, &out, 1, 0, 0.5f, 5, &out), ::testing::ExitedWithCode(20),
                "unknown chaos method");
}

TEST(ChaosMeasure, ShortValuesLimitTheLongOnesFromTheFirstLine) {
    std::vector<float> longValues(60, 0.9f);
    const std::vector<float> s0(20, 0.3f), s1(20, 0.6f), s2(20, 0.0f), high(20, 1.0f);
    MergeShortChaos(longValues.data(), s0.data(), s1.data(), s2.data(), 60, 20, 6);
    const int last = 3 * std::min(20, 61 / 3) - 2;
    for (int k = 0; k < 60; ++k) EXPECT_FLOAT_EQ(longValues[k], k >= 6 && k <= last ? 0.3f : 0.9f) << k;
    MergeShortChaos(longValues.data(), high.data(), high.data(), high.data(), 60, 20, 0);
    EXPECT_FLOAT_EQ(longValues[0], 0.9f);
    EXPECT_FLOAT_EQ(longValues[10], 0.3f);
}
