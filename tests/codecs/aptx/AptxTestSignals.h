#pragma once
// Test signals and measurements shared by the apt-X tests.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace aptxtest {

inline uint32_t Seed(const char* what) {
    const uint32_t seed = std::random_device{}();
    std::printf("%s: seed %u\n", what, seed);
    return seed;
}

// Interleaved tone, one frequency per channel.
inline std::vector<int16_t> Tone(int periods, int channels, double amplitude, double hz0, double hz1 = 1500) {
    std::vector<int16_t> pcm(static_cast<size_t>(periods) * channels);
    for (int i = 0; i < periods; ++i)
        for (int c = 0; c < channels; ++c)
            pcm[static_cast<size_t>(i) * channels + c] =
                static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * (c ? hz1 : hz0) * i / 48000.0)));
    return pcm;
}

// Program-like noise: white noise through two one-pole low-pass stages, so
// that most of the energy sits low, as in speech and music.
inline std::vector<int16_t> ProgramNoise(int periods, int channels, uint32_t seed, double amplitude = 8000) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0, 1);
    std::vector<int16_t> pcm(static_cast<size_t>(periods) * channels);
    for (int c = 0; c < channels; ++c) {
        double a = 0, b = 0;
        for (int i = 0; i < periods; ++i) {
            a += 0.15 * (n(rng) - a);
            b += 0.3 * (a - b);
            const double v = std::clamp(b * amplitude * 4, -32768.0, 32767.0);
            pcm[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(std::lround(v));
        }
    }
    return pcm;
}

// SNR of channel c of out against in, out[j] compared with in[j - lag],
// over input periods [from, to).
inline double Snr(const std::vector<int16_t>& in, const std::vector<int16_t>& out, int channels, int c, int lag,
                  int from, int to) {
    double s = 0, e = 0;
    for (int i = from; i < to; ++i) {
        const long j = static_cast<long>(i) + lag;
        if (j < 0 || static_cast<size_t>(j) * channels + c >= out.size()) continue;
        const double x = in[static_cast<size_t>(i) * channels + c];
        const double d = out[static_cast<size_t>(j) * channels + c] - x;
        s += x * x;
        e += d * d;
    }
    return e == 0 ? 200.0 : 10 * std::log10(s / e);
}

struct LagSnr {
    int lag = 0;
    double snr = -1e9;
};

inline LagSnr BestLag(const std::vector<int16_t>& in, const std::vector<int16_t>& out, int channels, int c, int minLag,
                      int maxLag, int from, int to) {
    LagSnr best;
    for (int lag = minLag; lag <= maxLag; ++lag) {
        const double snr = Snr(in, out, channels, c, lag, from, to);
        if (snr > best.snr) best = {lag, snr};
    }
    return best;
}

}  // namespace aptxtest
