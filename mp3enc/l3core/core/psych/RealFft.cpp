#include "mp3enc/l3core/core/psych/RealFft.h"

#include <cmath>
#include <utility>

#include "mp3enc/l3core/core/psych/MixedRadixFft.h"

namespace {

// In-place radix-2 FFT of m interleaved complex values (m a power of two).
void Radix2(float* d, int m) {
    for (int i = 1, j = 0; i < m; ++i) {
        int bit = m >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j |= bit;
        if (i < j) {
            std::swap(d[2 * i], d[2 * j]);
            std::swap(d[2 * i + 1], d[2 * j + 1]);
        }
    }
    for (int len = 2; len <= m; len <<= 1) {
        const double a = -2.0 * M_PI / len;
        const double wr = std::cos(a), wi = std::sin(a);
        for (int start = 0; start < m; start += len) {
            double tr = 1.0, ti = 0.0;
            for (int k = 0; k < len / 2; ++k) {
                float* p = d + 2 * (start + k);
                float* q = d + 2 * (start + k + len / 2);
                const double xr = q[0] * tr - q[1] * ti, xi = q[0] * ti + q[1] * tr;
                q[0] = static_cast<float>(p[0] - xr);
                q[1] = static_cast<float>(p[1] - xi);
                p[0] = static_cast<float>(p[0] + xr);
                p[1] = static_cast<float>(p[1] + xi);
                const double nr = tr * wr - ti * wi;
                ti = tr * wi + ti * wr;
                tr = nr;
            }
        }
    }
}

bool Complex(float* d, int m) {
    if ((m & (m - 1)) == 0) {
        Radix2(d, m);
        return true;
    }
    float re[kRealFftMax / 2], im[kRealFftMax / 2];
    for (int i = 0; i < m; ++i) {
        re[i] = d[2 * i];
        im[i] = d[2 * i + 1];
    }
    if (!MixedRadixFft(re, im, m, -1)) return false;
    for (int i = 0; i < m; ++i) {
        d[2 * i] = re[i];
        d[2 * i + 1] = im[i];
    }
    return true;
}

}  // namespace

int RealFft(float* data, int n) {
    if (!data || n < 4 || n % 2 || n > kRealFftMax) return 0;
    const int m = n / 2;
    if (!Complex(data, m)) return 0;
    // X[k] = (Z[k] + Z*[m-k]) / 2 - i e^(-2 pi i k / n) (Z[k] - Z*[m-k]) / 2, in pairs k, m - k.
    const double z0r = data[0], z0i = data[1];
    data[0] = static_cast<float>(z0r + z0i);
    data[1] = 0.0f;
    const double step = 2.0 * M_PI / n, c1 = std::cos(step), s1 = std::sin(step);
    double c = c1, s = s1;
    for (int k = 1; k <= m / 2; ++k) {
        const double ar = data[2 * k], ai = data[2 * k + 1];
        const double br = data[2 * (m - k)], bi = data[2 * (m - k) + 1];
        // e = (A + B*)/2, o = (A - B*)/2; X[k] = e + (-i) w o with w = c - i s.
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double orr = 0.5 * (ar - br), oi = 0.5 * (ai + bi);
        // (-i)(c - i s)(orr + i oi) = (-s - i c)(orr + i oi)
        const double tr = -s * orr + c * oi, ti = -c * orr - s * oi;
        data[2 * k] = static_cast<float>(er + tr);
        data[2 * k + 1] = static_cast<float>(ei + ti);
        if (k != m - k) {
            // Bin m - k: e' = conj(e), o' = -conj(o), w' = -conj(w).
            data[2 * (m - k)] = static_cast<float>(er - tr);
            data[2 * (m - k) + 1] = static_cast<float>(-ei + ti);
        }
        const double nc = c * c1 - s * s1;
        s = s * c1 + c * s1;
        c = nc;
    }
    return 1;
}
