#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "common/L3Tables.h"
#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/core/quant/LoopKernel.h"
#include "mp3enc/l3core/core/quant/QuantTables.h"

namespace {

constexpr int kRow44100 = 1;

// One long granule: a loud tone in band 2 and quiet noise in band 15; every
// band may keep `allowedShare` of its energy as noise (silent bands 1.0).
struct Granule {
    std::vector<float> spectrum = std::vector<float>(576, 0.0f);
    float energy[22] = {};
    float allowed[22] = {};
    Granule(float tone, float noise, float allowedShare, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        const int16_t* start = l3tables::kSfbLong[kRow44100];
        for (int k = start[2]; k < start[3]; ++k) spectrum[k] = tone * (k % 2 ? -1.0f : 1.0f) * (0.5f + 0.5f * std::fabs(u(rng)));
        for (int k = start[15]; k < start[16]; ++k) spectrum[k] = noise * u(rng);
        for (int b = 0; b < 22; ++b) {
            for (int k = start[b]; k < start[b + 1]; ++k) energy[b] += spectrum[k] * spectrum[k];
            allowed[b] = energy[b] > 0.0f ? energy[b] * allowedShare : 1.0f;
        }
    }
    LoopChannelInput Input() const { return {0, spectrum.data(), energy, allowed, {}, {}, nullptr}; }
};

struct Kernel {
    LoopKernel* k;
    explicit Kernel(int channels, const char* mol = nullptr) {
        EXPECT_EQ(UciBegin(), kUciDone);
        if (mol) UciSet("mol", mol);
        k = CreateLoopKernel(44100, channels);
        UciEnd();
    }
    ~Kernel() { DeleteLoopKernel(k); }
};

// Runs one MPEG-1 frame of two granules, every granule and channel alike.
int RunFrame(LoopKernel* k, const Granule& g, int channels, int budget) {
    const int budgets[4] = {budget, budget, budget, budget};
    for (int gr = 0; gr < 2; ++gr) {
        LoopGranuleInput in{channels, gr, {g.Input(), g.Input()}};
        if (!AdvanceLoopKernel(k, in, budgets)) return 0;
        EXPECT_EQ(k->frame.complete, gr == 1);
    }
    return 1;
}

// Noise left in band b of member m, as the decoder will rebuild the lines.
double BandError(const LoopKernel* k, int m, const Granule& g, int b) {
    const GranuleInfo& info = k->frame.info[m];
    const int16_t* start = l3tables::kSfbLong[kRow44100];
    const int pre = info.preflag ? l3tables::kPretab[b] : 0;
    const int offset = b < 21 ? (info.scalefac[b] + pre) << (info.scalefacScale + 1) : 0;
    double error = 0.0;
    for (int line = start[b]; line < start[b + 1]; ++line) {
        const int q = k->frame.values[m][line];
        const double x = (q < 0 ? -1.0 : 1.0) * std::pow(std::abs(q), 4.0 / 3.0) *
                         std::pow(2.0, (info.globalGain - offset) / 4.0);
        error += (g.spectrum[line] - x) * (g.spectrum[line] - x);
    }
    return error;
}

}  // namespace

TEST(LoopKernel, SilenceCostsNothingAndEndsAfterOnePass) {
    Kernel kernel(2);
    ASSERT_NE(kernel.k, nullptr);
    const Granule silent(0.0f, 0.0f, 0.01f, 1);
    ASSERT_EQ(RunFrame(kernel.k, silent, 2, 100), 1);
    EXPECT_EQ(kernel.k->passes, 1);
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(kernel.k->frame.part23Length[m], 0);
        EXPECT_EQ(kernel.k->frame.info[m].globalGain, 0);
        EXPECT_EQ(kernel.k->frame.info[m].distortedBands, 0);
        EXPECT_TRUE(std::all_of(kernel.k->frame.values[m], kernel.k->frame.values[m] + 576, [](int v) { return v == 0; }));
    }
}

TEST(LoopKernel, EveryGranuleMeetsItsBudget) {
    Kernel kernel(2);
    for (int budget : {60, 150, 400, 1200, 3000}) {
        const Granule g(30000.0f, 300.0f, 0.001f, 2);
        ASSERT_EQ(RunFrame(kernel.k, g, 2, budget), 1) << budget;
        for (int gr = 0; gr < 2; ++gr) {
            // The default grouping shares the budget of a granule's channels.
            const int bits = kernel.k->frame.part23Length[2 * gr] + kernel.k->frame.part23Length[2 * gr + 1];
            EXPECT_LE(bits, 2 * budget) << budget;
            for (int c = 0; c < 2; ++c) {
                const GranuleInfo& info = kernel.k->frame.info[2 * gr + c];
                // The finest gain, where it fits, is the start gain.
                if (budget >= 1200) {
                    EXPECT_EQ(info.globalGain, kernel.k->loop[2 * gr + c]->startGain) << budget;
                }
                EXPECT_EQ(kernel.k->frame.part23Length[2 * gr + c], info.part2Length + info.huffman.part3Length);
                EXPECT_LE(kernel.k->frame.part23Length[2 * gr + c], 4095);
            }
        }
    }
}

TEST(LoopKernel, AmplificationBringsQuietBandsUnderTheirAllowedDistortion) {
    // Band 15 is 110 dB below the tone: the gain that suits the tone leaves
    // it as zeros unless its scale factor amplifies it; the budget has room
    // for both.
    const Granule g(30000.0f, 0.1f, 0.01f, 3);
    Kernel once(1, "1");
    ASSERT_EQ(RunFrame(once.k, g, 1, 300), 1);
    EXPECT_EQ(once.k->passes, 1);
    EXPECT_GT(once.k->frame.info[0].distortedBands, 0);
    EXPECT_TRUE(std::all_of(once.k->frame.info[0].scalefac, once.k->frame.info[0].scalefac + 21, [](int s) { return s == 0; }));
    EXPECT_GT(BandError(once.k, 0, g, 15), g.allowed[15]);

    Kernel full(1);
    ASSERT_EQ(RunFrame(full.k, g, 1, 300), 1);
    EXPECT_GT(full.k->passes, 1);
    for (int m : {0, 2}) {
        const GranuleInfo& info = full.k->frame.info[m];
        EXPECT_EQ(info.distortedBands, 0) << "largest ratio " << info.maxRatio;
        EXPECT_GT(info.scalefac[15], 0);
        EXPECT_LE(full.k->frame.part23Length[m], 300);
        for (int b = 0; b < 21; ++b) EXPECT_LE(BandError(full.k, m, g, b), 1.0001 * g.allowed[b]) << "band " << b;
    }
}

TEST(LoopKernel, RefusesInputThatDoesNotFit) {
    EXPECT_EQ(CreateLoopKernel(44000, 2), nullptr);
    EXPECT_EQ(CreateLoopKernel(44100, 3), nullptr);
    Kernel kernel(1);
    const Granule g(100.0f, 1.0f, 0.01f, 4);
    const int budgets[4] = {100, 100, 100, 100};
    LoopGranuleInput two{2, 0, {g.Input(), g.Input()}};
    EXPECT_EQ(AdvanceLoopKernel(kernel.k, two, budgets), 0);
    LoopGranuleInput late{1, 2, {g.Input(), g.Input()}};
    EXPECT_EQ(AdvanceLoopKernel(kernel.k, late, budgets), 0);
    LoopGranuleInput badType{1, 0, {g.Input(), g.Input()}};
    badType.channel[0].blockType = 7;
    EXPECT_EQ(AdvanceLoopKernel(kernel.k, badType, budgets), 0);
}

TEST(QuantTables, StepsEqualTheirPowers) {
    for (int d = -278; d <= 300; ++d) {
        EXPECT_NEAR(QuantStep(d) / std::pow(2.0, -3.0 * d / 16.0), 1.0, 1e-12) << d;
        EXPECT_NEAR(DequantStep(d) / std::pow(2.0, d / 4.0), 1.0, 1e-12) << d;
    }
    const double* p = Pow43Table();
    for (int i : {0, 1, 2, 100, 8191, 8206}) EXPECT_NEAR(p[i], std::pow(i, 4.0 / 3.0), 1e-9 * (1 + p[i]));
}
