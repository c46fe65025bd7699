#pragma once
// Tone measurements shared by the audio tests: amplitude and phase of one
// frequency by least squares, and the RMS of what is left over.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

struct ToneFit {
    double amplitude = 0;  // peak
    double phase = 0;      // radians at sample 0
    double residualRms = 0;
};

// Channel `ch` of interleaved samples, frames [first, first + count).
inline ToneFit FitTone(const int16_t* pcm, size_t first, size_t count, int channels, int ch, double freq,
                       double rate) {
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, xx = 0;
    const double w = 2.0 * M_PI * freq / rate;
    for (size_t i = 0; i < count; ++i) {
        const double x = pcm[(first + i) * channels + ch];
        const double s = std::sin(w * i), c = std::cos(w * i);
        ss += s * s, cc += c * c, sc += s * c, xs += x * s, xc += x * c, xx += x * x;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;  // sin part
    const double b = (xc * ss - xs * sc) / det;  // cos part
    ToneFit f;
    f.amplitude = std::hypot(a, b);
    f.phase = std::atan2(b, a);
    const double fitted = a * xs + b * xc;  // energy explained
    f.residualRms = std::sqrt(std::max(0.0, xx - fitted) / static_cast<double>(count));
    return f;
}

inline std::vector<int16_t> MakeTone(size_t frames, int channels, double freq, double rate, double peak,
                                     double phase = 0) {
    std::vector<int16_t> v(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const auto s = static_cast<int16_t>(std::lround(peak * std::sin(2.0 * M_PI * freq * i / rate + phase)));
        for (int c = 0; c < channels; ++c) v[i * channels + c] = s;
    }
    return v;
}

inline double Db(double ratio) { return 20.0 * std::log10(std::max(ratio, 1e-12)); }
