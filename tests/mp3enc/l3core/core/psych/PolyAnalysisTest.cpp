#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/L3Tables.h"
#include "mp3enc/l3core/core/psych/PolyAnalysis.h"

// The fast path equals the defining sums (window, partial sums Y, 32 x 64
// cosine matrix, in double) within 2e-6 of the largest subband value, over
// granules that carry history from one to the next.
TEST(PolyAnalysis, FastPathEqualsTheDirectFormula) {
    PolyAnalysis* p = CreatePolyPhaseAnalyseChannel();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->writeIndex, 0);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> v(-32768.0f, 32767.0f);
    std::vector<float> pcm(4 * 576);
    for (float& s : pcm) s = v(rng);
    double worst = 0.0, peak = 0.0;
    for (int g = 0; g < 4; ++g) {
        float out[576];
        ASSERT_EQ(PolyPhaseAnalyse(p, pcm.data() + 576 * g, out), 1);
        for (int s = 0; s < 18; ++s) {
            const int newest = 576 * g + 32 * s + 31;
            double y[64];
            for (int k = 0; k < 64; ++k) {
                y[k] = 0.0;
                for (int j = 0; j < 8; ++j) {
                    const int i = k + 64 * j;
                    y[k] += l3tables::kAnalysisWindow[i] * (newest - i >= 0 ? pcm[newest - i] : 0.0);
                }
            }
            for (int i = 0; i < 32; ++i) {
                double sum = 0.0;
                for (int k = 0; k < 64; ++k) sum += std::cos((2 * i + 1) * (k - 16) * M_PI / 64) * y[k];
                worst = std::max(worst, std::fabs(sum - out[32 * s + i]));
                peak = std::max(peak, std::fabs(sum));
            }
        }
    }
    DeletePolyPhaseAnalyseChannel(p);
    DeletePolyPhaseAnalyseChannel(nullptr);
    std::printf("polyphase: largest error %.3g of peak %.3g\n", worst, peak);
    EXPECT_LT(worst, 2e-6 * peak) << "seed 5";
}

TEST(PolyAnalysis, SilenceGivesExactZerosAndTheCosineSplitIsExact) {
    PolyAnalysis* p = CreatePolyPhaseAnalyseChannel();
    ASSERT_NE(p, nullptr);
    float zeros[576] = {}, out[576];
    for (float& o : out) o = 1.0f;
    PolyPhaseAnalyse(p, zeros, out);
    for (float o : out) ASSERT_EQ(o, 0.0f);
    DeletePolyPhaseAnalyseChannel(p);

    float a[32], fast[32];
    for (int m = 0; m < 32; ++m) a[m] = static_cast<float>(std::sin(m * 1.7) * (m + 1));
    PolyCosine32(a, fast);
    for (int i = 0; i < 32; ++i) {
        double sum = 0.0;
        for (int m = 0; m < 32; ++m) sum += a[m] * std::cos((2 * i + 1) * m * M_PI / 64);
        EXPECT_NEAR(fast[i], sum, 2e-5) << i;
    }
}
