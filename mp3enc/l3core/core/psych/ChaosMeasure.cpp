#include "mp3enc/l3core/core/psych/ChaosMeasure.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/util/EncError.h"

namespace {

constexpr float kSmallPower = 1e-6f;
constexpr float kDivisorGuard = 1.1754944e-38f;
constexpr int kPeakMinLines = 6;

struct Line {
    float re, im;
};

Line At(const float* x, int k) { return {x[2 * k], x[2 * k + 1]}; }
float Power(Line a) { return a.re * a.re + a.im * a.im; }
float Dot(Line a, Line b) { return a.re * b.re + a.im * b.im; }

bool TooQuiet(Line a, Line b, Line z) {
    return Power(b) < kSmallPower || Power(a) < kSmallPower || Power(z) < kSmallPower;
}

// Linear extrapolation of magnitude and phase.
float Euclid(Line a, Line b, Line z) {
    const float pb = Power(b), pa = Power(a), pz = Power(z);
    const float s = 2.0f * Dot(b, a) / pb;
    const float g = 2.0f * std::sqrt(pb) / std::sqrt(pa) - 1.0f;
    const Line p{(s * b.re - a.re) * g, (s * b.im - a.im) * g};
    const Line diff{z.re - p.re, z.im - p.im};
    const float pp = Power(p);
    return std::sqrt(Power(diff)) / std::sqrt(pp + 2.0f * std::sqrt(pz * pp) + pz);
}

// Geometric extrapolation of the magnitude, without square roots in the prediction.
float FastEuclid(Line a, Line b, Line z) {
    const float pa = Power(a), pb = Power(b);
    const float s = 2.0f * Dot(a, b);
    const Line p{(s * b.re - pb * a.re) / pa, (s * b.im - pb * a.im) / pa};
    const Line diff{z.re - p.re, z.im - p.im};
    return std::sqrt(Power(diff)) / (std::sqrt(Power(z)) + std::sqrt(Power(p)));
}

void PeakEdges(float* out, int n) {
    out[0] = out[1] = out[2];
    const float mean = (out[n - 6] + out[n - 5] + out[n - 4]) / 3.0f;
    out[n - 3] = out[n - 2] = out[n - 1] = mean;
}

void PeakFilter(const float* x0, int n, float* out) {
    auto mag = [x0](int k) { return std::sqrt(Power(At(x0, k))); };
    for (int k = 2; k <= n - 4; ++k) {
        const float m = mag(k);
        const float d = m - 0.5f * (mag(k - 2) + mag(k + 2));
        float r = d / std::max(m, kDivisorGuard);
        if (r < 0) r = 0;
        out[k] = std::clamp((r - 1.0f) * (r - 1.0f), 0.0f, 1.0f);
    }
    PeakEdges(out, n);
}

void FastPeakFilter(const float* x0, int n, float* out) {
    for (int k = 0; k < n; ++k) out[k] = std::sqrt(Power(At(x0, k)));
    for (int parity = 0; parity < 2; ++parity) {
        float before = out[parity];  // magnitude of k - 2 before it was replaced
        for (int k = 2 + parity; k <= n - 3; k += 2) {
            const float m = out[k];
            const float d = m - 0.5f * (before + out[k + 2]);
            before = m;
            out[k] = m == 0.0f || d < 0 ? 1.0f : (d / m - 1.0f) * (d / m - 1.0f);
        }
    }
    PeakEdges(out, n);
}

}  // namespace

void CalculateChaosMeasure(const float* x2, const float* x1, const float* x0, int lineCount, int combLimit,
                           float defaultChaos, int method, float* out) {
    if (method < kChaosEuclid || method > kChaosCombined)
        FatalError("CalculateChaosMeasure() called with unknown chaos method", __FILE__, __LINE__);
    if (lineCount <= 0) return;
    switch (method) {
    case kChaosEuclid:
    case kChaosFastEuclid:
        for (int k = 0; k < lineCount; ++k) {
            const Line a = At(x2, k), b = At(x1, k), z = At(x0, k);
            out[k] = TooQuiet(a, b, z) ? defaultChaos : method == kChaosEuclid ? Euclid(a, b, z) : FastEuclid(a, b, z);
        }
        return;
    case kChaosPeak:
    case kChaosFastPeak:
        if (lineCount < kPeakMinLines) {
            std::fill(out, out + lineCount, defaultChaos);
            return;
        }
        if (method == kChaosPeak)
            PeakFilter(x0, lineCount, out);
        else
            FastPeakFilter(x0, lineCount, out);
        return;
    default: {
        const int n = std::min(combLimit + 5, lineCount);
        const bool peaks = combLimit >= 1 && n >= kPeakMinLines;
        if (peaks) PeakFilter(x0, n, out);
        for (int k = 0; k < lineCount; ++k) {
            const Line a = At(x2, k), b = At(x1, k), z = At(x0, k);
            if (TooQuiet(a, b, z)) {
                out[k] = defaultChaos;
                continue;
            }
            const float u = Euclid(a, b, z);
            out[k] = k >= combLimit || !peaks ? u : std::min(u, out[k]);
        }
    }
    }
}

void MergeShortChaos(float* longValues, const float* short0, const float* short1, const float* short2, int longCount,
                     int shortCount, int firstLine) {
    const int last = 3 * std::min(shortCount, (longCount + 1) / 3) - 2;
    for (int line = std::max(firstLine, 0); line <= last; ++line) {
        const int i = (line + 1) / 3;
        const float mean = (short0[i] + short1[i] + short2[i]) / 3.0f;
        if (mean < longValues[line]) longValues[line] = mean;
    }
}
