#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "common/L3Tables.h"
#include "mp3enc/l3core/core/psych/Mdct.h"
#include "mp3enc/l3core/core/psych/PolyAnalysis.h"

namespace {

double LongWindow(int kind, int n) {  // 0 normal, 1 start, 3 stop
    if (kind == 3) return LongWindow(1, 35 - n);
    if (kind == 1 && n >= 18) return n < 24 ? 1.0 : n < 30 ? std::sin(M_PI / 12 * (n - 18 + 0.5)) : 0.0;
    return std::sin(M_PI / 36 * (n + 0.5));
}

double Cs(int i) { return 1.0 / std::sqrt(1.0 + l3tables::kAliasCi[i] * l3tables::kAliasCi[i]); }
double Ca(int i) { return l3tables::kAliasCi[i] * Cs(i); }

// The defining formulas of one granule: z holds each subband's 36 inputs.
std::vector<double> Direct(const double z[32][36], int type, int longSubbands) {
    std::vector<double> x(576);
    for (int sb = 0; sb < 32; ++sb) {
        int kind = type;
        if (type >= 4) kind = sb < longSubbands ? 0 : type - 3;
        if (kind == 2) {
            for (int w = 0; w < 3; ++w)
                for (int m = 0; m < 6; ++m) {
                    double sum = 0.0;
                    for (int n = 0; n < 12; ++n)
                        sum += std::sin(M_PI / 12 * (n + 0.5)) * z[sb][6 + 6 * w + n] *
                               std::cos(M_PI / 24 * (2 * n + 7) * (2 * m + 1));
                    x[18 * sb + 3 * m + w] = sum / 3.0;  // line order
                }
        } else {
            for (int m = 0; m < 18; ++m) {
                double sum = 0.0;
                for (int n = 0; n < 36; ++n)
                    sum += LongWindow(kind, n) * z[sb][n] * std::cos(M_PI / 72 * (2 * n + 19) * (2 * m + 1));
                x[18 * sb + m] = sum / 9.0;
            }
        }
    }
    const int boundaries = type == 2 ? 0 : type == 5 ? longSubbands - 1 : 31;
    for (int b = 0; b < boundaries; ++b)
        for (int i = 0; i < 8; ++i) {
            const double lo = x[18 * b + 17 - i], up = x[18 * (b + 1) + i];
            x[18 * (b + 1) + i] = up * Cs(i) - lo * Ca(i);
            x[18 * b + 17 - i] = lo * Cs(i) + up * Ca(i);
        }
    return x;
}

SfbParam* LongBands(float hz) { return SfbParamCreate(0, hz); }

}  // namespace

// Every block type, over granules that overlap, equals the defining formulas
// within 2e-6 of the largest line.
TEST(Mdct, FastPathsEqualTheDirectFormulasForEveryBlockType) {
    SfbParam* bands = LongBands(44100.0f);
    ASSERT_NE(bands, nullptr);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> v(-1000.0f, 1000.0f);
    for (int type = 0; type <= 6; ++type) {
        MdctState* m = CreateMdct(0, bands);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->longSubbands, 2);
        double z[32][36] = {};
        for (int g = 0; g < 3; ++g) {
            float in[576], out[kMdctSpectrumSize];
            for (float& s : in) s = v(rng);
            for (int sb = 0; sb < 32; ++sb)
                for (int k = 0; k < 18; ++k) {
                    z[sb][k] = z[sb][18 + k];
                    z[sb][18 + k] = ((sb & k & 1) ? -1.0 : 1.0) * in[32 * k + sb];
                }
            out[576] = out[577] = 5.0f;
            ASSERT_EQ(MdctAnalyse(m, type, in, out), 1);
            EXPECT_EQ(out[576], 0.0f);
            EXPECT_EQ(out[577], 0.0f);
            const std::vector<double> want = Direct(z, type, m->longSubbands);
            double worst = 0.0, peak = 0.0;
            for (int i = 0; i < 576; ++i) {
                worst = std::max(worst, std::fabs(want[i] - out[i]));
                peak = std::max(peak, std::fabs(want[i]));
            }
            EXPECT_LT(worst, 2e-6 * peak) << "type " << type << " granule " << g << " seed 9";
        }
        DeleteMdct(m);
    }
    SfbParamFree(bands);
    DeleteMdct(nullptr);
}

TEST(Mdct, MixedBlocksKeepTheirLongPartAndSilenceStaysZero) {
    SfbParam* b8 = LongBands(8000.0f);
    SfbParam* b22 = LongBands(22050.0f);
    ASSERT_TRUE(b8 && b22);
    MdctState* low = CreateMdct(2, b8);
    MdctState* mid = CreateMdct(1, b22);
    ASSERT_TRUE(low && mid);
    EXPECT_EQ(low->longLines, 72);
    EXPECT_EQ(low->longSubbands, 4);
    EXPECT_EQ(mid->longLines, 36);
    EXPECT_EQ(CreateMdct(3, b22), nullptr);
    EXPECT_EQ(CreateMdct(0, nullptr), nullptr);
    float in[576] = {}, out[kMdctSpectrumSize];
    for (float& o : out) o = 1.0f;
    for (int type = 0; type <= 7; ++type) {  // 7 is taken as 0
        MdctAnalyse(low, type, in, out);
        for (int i = 0; i < kMdctSpectrumSize; ++i) ASSERT_EQ(out[i], 0.0f) << type;
    }
    DeleteMdct(low);
    DeleteMdct(mid);
    SfbParamFree(b8);
    SfbParamFree(b22);
}

// Analysis then the test's own inverse (aliasing butterflies undone, IMDCT
// with overlap-add, frequency inversion undone, the standard's synthesis with
// D = 32 C) gives back a sine at unity gain.
TEST(Mdct, AnalysisAndATestSideInverseReconstructASineAtUnityGain) {
    SfbParam* bands = LongBands(44100.0f);
    PolyAnalysis* poly = CreatePolyPhaseAnalyseChannel();
    MdctState* mdct = CreateMdct(0, bands);
    ASSERT_TRUE(bands && poly && mdct);
    constexpr int kGranules = 24;
    std::vector<float> pcm(576 * kGranules);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<float>(10000.0 * std::sin(2 * M_PI * 997.0 * i / 44100.0));
    std::vector<double> rebuilt;
    double overlap[32][18] = {};
    double v[1024] = {};
    for (int g = 0; g < kGranules; ++g) {
        float sub[576], spec[kMdctSpectrumSize];
        PolyPhaseAnalyse(poly, pcm.data() + 576 * g, sub);
        MdctAnalyse(mdct, 0, sub, spec);
        std::vector<double> x(spec, spec + 576);
        for (int b = 0; b < 31; ++b)
            for (int i = 0; i < 8; ++i) {
                const double lo = x[18 * b + 17 - i], up = x[18 * (b + 1) + i];
                x[18 * b + 17 - i] = lo * Cs(i) - up * Ca(i);
                x[18 * (b + 1) + i] = up * Cs(i) + lo * Ca(i);
            }
        double s[18][32];
        for (int sb = 0; sb < 32; ++sb) {
            double y[36];
            for (int n = 0; n < 36; ++n) {
                double sum = 0.0;
                for (int m = 0; m < 18; ++m) sum += x[18 * sb + m] * std::cos(M_PI / 72 * (2 * n + 19) * (2 * m + 1));
                y[n] = sum * LongWindow(0, n);
            }
            for (int k = 0; k < 18; ++k) {
                s[k][sb] = ((sb & k & 1) ? -1.0 : 1.0) * (y[k] + overlap[sb][k]);
                overlap[sb][k] = y[18 + k];
            }
        }
        for (int k = 0; k < 18; ++k) {
            for (int i = 1023; i >= 64; --i) v[i] = v[i - 64];
            for (int i = 0; i < 64; ++i) {
                double sum = 0.0;
                for (int q = 0; q < 32; ++q) sum += std::cos((16 + i) * (2 * q + 1) * M_PI / 64) * s[k][q];
                v[i] = sum;
            }
            for (int j = 0; j < 32; ++j) {
                double sum = 0.0;
                for (int i = 0; i < 8; ++i) {
                    sum += v[128 * i + j] * 32.0 * l3tables::kAnalysisWindow[64 * i + j];
                    sum += v[128 * i + 96 + j] * 32.0 * l3tables::kAnalysisWindow[64 * i + 32 + j];
                }
                rebuilt.push_back(sum);
            }
        }
    }
    // Find the chain's delay, then compare level and waveform over the settled middle.
    int best = 0;
    double bestErr = 1e300;
    for (int d = 0; d < 1500; ++d) {
        double e = 0.0;
        for (int i = 4000; i < 8000; ++i) e += (rebuilt[i + d] - pcm[i]) * (rebuilt[i + d] - pcm[i]);
        if (e < bestErr) bestErr = e, best = d;
    }
    double in = 0.0, out = 0.0, err = 0.0;
    for (int i = 4000; i < 10000; ++i) {
        in += double(pcm[i]) * pcm[i];
        out += rebuilt[i + best] * rebuilt[i + best];
        err += (rebuilt[i + best] - pcm[i]) * (rebuilt[i + best] - pcm[i]);
    }
    const double gainDb = 10 * std::log10(out / in), snrDb = 10 * std::log10(in / err);
    std::printf("analysis + inverse: delay %d samples, gain %+.4f dB, SNR %.1f dB\n", best, gainDb, snrDb);
    EXPECT_EQ(best, 576 + 481);  // one granule in the MDCT, 481 samples in the two filter banks
    EXPECT_NEAR(gainDb, 0.0, 0.01);
    EXPECT_GT(snrDb, 60.0);
    DeleteMdct(mdct);
    DeletePolyPhaseAnalyseChannel(poly);
    SfbParamFree(bands);
}
