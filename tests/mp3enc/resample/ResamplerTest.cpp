// The resampler's measured response: DC gain, pass-band ripple and stop-band
// attenuation at every ratio the front end uses, and its block bookkeeping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "mp3enc/resample/Resampler.h"

namespace {
struct Chain {
    Resampler* r = nullptr;
    int inBlock = 0, outBlock = 0;
    Chain(int in, int out, float passBand, int channels = 1) {
        ResamplerDesign d{};
        d.gain = 1.0;
        d.attenuation = 90.0f;
        ResamplerDesignFor(&d, in, out, passBand);
        EXPECT_EQ(ResamplerCreate(&r, &d, channels, in, out, &inBlock, &outBlock), 1);
    }
    ~Chain() { ResamplerDestroy(r); }
    // Whole blocks of the signal through the resampler.
    std::vector<float> Process(const std::vector<float>& x) {
        std::vector<float> y, in(static_cast<size_t>(inBlock)), out(static_cast<size_t>(outBlock));
        for (size_t at = 0; at < x.size(); at += static_cast<size_t>(inBlock)) {
            for (int i = 0; i < inBlock; ++i) in[static_cast<size_t>(i)] = at + i < x.size() ? x[at + i] : 0.0f;
            int count = inBlock, produced = 0;
            ResamplerProcess(r, in.data(), out.data(), &count, &produced);
            y.insert(y.end(), out.begin(), out.begin() + produced);
        }
        return y;
    }
};

double RmsDb(const std::vector<float>& y, size_t from, size_t to) {
    double s = 0;
    for (size_t i = from; i < to; ++i) s += double(y[i]) * y[i];
    return 10 * std::log10(std::max(s / double(to - from), 1e-30));
}

std::vector<float> Sine(int rate, double hz, size_t n) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = static_cast<float>(std::sin(2 * M_PI * hz * i / rate));
    return x;
}
}  // namespace

TEST(Resampler, ResponseAtEveryRatioOfTheFrontEnd) {
    struct Ratio {
        int in, out;
    };
    for (const Ratio c : {Ratio{48000, 24000}, Ratio{48000, 32000}, Ratio{48000, 16000}, Ratio{48000, 12000},
                          Ratio{48000, 8000}, Ratio{44100, 22050}, Ratio{48000, 48000}}) {
        const float passBand = std::min(0.475f * std::min(c.in, c.out), c.in == c.out ? 20000.0f : 1e9f);
        Chain run(c.in, c.out, passBand);
        ASSERT_NE(run.r, nullptr);
        // DC: a long run of ones comes out as ones.
        const std::vector<float> dc = run.Process(std::vector<float>(20 * run.inBlock, 1.0f));
        const double dcGain = dc[dc.size() / 2];
        double worstPass = 0.0, worstStop = -400.0;
        const size_t n = static_cast<size_t>(8 * run.inBlock);
        // The design's pass band ends 1.66 transition widths below its stop edge.
        const double passEdge = (c.out - passBand) - 1.66 * (c.out - 2.0 * passBand);
        for (double f = 100; f < passEdge; f += passEdge / 23) {
            Chain fresh(c.in, c.out, passBand);
            const auto y = fresh.Process(Sine(c.in, f, n));
            const double db = RmsDb(y, y.size() / 4, y.size() * 3 / 4) - 10 * std::log10(0.5);
            worstPass = std::max(worstPass, std::fabs(db));
        }
        const double stopEdge = c.out - passBand;  // at the common rate, as designed
        for (double f = stopEdge + 50; f < c.in / 2.0; f += (c.in / 2.0 - stopEdge) / 17) {
            Chain fresh(c.in, c.out, passBand);
            const auto y = fresh.Process(Sine(c.in, f, n));
            worstStop = std::max(worstStop, RmsDb(y, y.size() / 4, y.size() * 3 / 4) - 10 * std::log10(0.5));
        }
        std::printf("[ resampler ] %5d -> %5d Hz: taps %4d, delay %3d, DC gain %.6f, pass band to %.0f Hz: ripple "
                    "%.4f dB, stop band from %.0f Hz at %.1f dB\n",
                    c.in, c.out, ResamplerTaps(run.r), ResamplerDelay(run.r), dcGain, passEdge, worstPass,
                    stopEdge, worstStop);
        EXPECT_NEAR(dcGain, 1.0, 1e-4);
        EXPECT_LT(worstPass, 0.05);
        if (c.in != c.out) {
            EXPECT_LT(worstStop, -85.0);
        }
    }
}

TEST(Resampler, RatioOneBookkeepingAndSilence) {
    Chain run(48000, 48000, 20000.0f);
    ASSERT_NE(run.r, nullptr);
    EXPECT_EQ(ResamplerTaps(run.r), 21);
    EXPECT_EQ(run.inBlock, 1004);
    EXPECT_EQ(run.outBlock, 1004);
    EXPECT_EQ(ResamplerDelay(run.r), 10);
    for (float v : run.Process(std::vector<float>(5000, 0.0f))) ASSERT_EQ(v, 0.0f);
    Chain down(48000, 32000, 15200.0f, 2);
    EXPECT_EQ(down.outBlock * 3, down.inBlock * 2);  // U = 2, D = 3
}

TEST(Resampler, RefusesWhatItCannotDesign) {
    Resampler* r = nullptr;
    int in = 0, out = 0;
    ResamplerDesign d{};
    d.gain = 1.0;
    d.attenuation = 90.0f;
    ResamplerDesignFor(&d, 48000, 44100, 20000.0f);
    EXPECT_EQ(ResamplerCreate(&r, &d, 1, 48000, 44100, &in, &out), 0);  // U x D far above 256
    EXPECT_EQ(ResamplerCreate(&r, &d, 1, 0, 44100, &in, &out), 0);
    ResamplerDesignFor(&d, 48000, 24000, 11999.9f);  // a transition far too narrow: N above 2048
    EXPECT_EQ(ResamplerCreate(&r, &d, 1, 48000, 24000, &in, &out), 0);
    EXPECT_EQ(r, nullptr);
    ResamplerDestroy(nullptr);
}
