#include "codecs/mpeg2/Mp2Psy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Tones over noise, so that the model finds tonal and non-tonal maskers.
std::vector<float> Frame(uint32_t seed, int n) {
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 600.0;
        x[static_cast<size_t>(i)] = static_cast<float>(8000 * std::sin(0.07 * i + seed % 7) + 2500 * std::sin(0.61 * i) + noise);
    }
    return x;
}

// The FFT's vector paths give the scalar path's ratios for both layers and
// every rate the model has tables for.
TEST(Mp2Psy, EveryFftPathGivesTheScalarRatios) {
    std::vector<EVectorPath> paths;
    for (EVectorPath p : {EVectorPath::Sse2, EVectorPath::Avx2})
        if (VectorPathSupported(p)) paths.push_back(p);
    for (int layer : {1, 2})
        for (int rate : {16000, 22050, 24000, 32000, 44100, 48000}) {
            mp2::PsyModel1 scalar;
            ASSERT_TRUE(scalar.Init(layer, rate, 64000));
            scalar.UseVectorPath(EVectorPath::Scalar);
            std::vector<mp2::PsyModel1> vector(paths.size());
            for (size_t k = 0; k < paths.size(); ++k) {
                ASSERT_TRUE(vector[k].Init(layer, rate, 64000));
                vector[k].UseVectorPath(paths[k]);
            }
            double scfMax[32];
            for (int sb = 0; sb < 32; ++sb) scfMax[sb] = 0.5 / (1 + sb);
            for (uint32_t seed = 1; seed <= 6; ++seed) {
                const std::vector<float> x = Frame(seed, scalar.FftSize());
                int want[32];
                scalar.Compute(x.data(), scfMax, 30, want);
                for (size_t k = 0; k < paths.size(); ++k) {
                    int got[32];
                    vector[k].Compute(x.data(), scfMax, 30, got);
                    for (int sb = 0; sb < 30; ++sb)
                        ASSERT_EQ(got[sb], want[sb]) << VectorPathName(paths[k]) << ", layer " << layer << ", " << rate
                                                     << " Hz, seed " << seed << ", subband " << sb;
                }
            }
        }
}

}  // namespace
