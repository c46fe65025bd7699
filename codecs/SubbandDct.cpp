#include "codecs/SubbandDct.h"

#include <cmath>

CSubbandDct::CSubbandDct() {
    const double pi = 3.14159265358979323846;
    for (int h = 1; h <= 16; h *= 2) {
        float* f = m_factors + (h - 1);
        for (int i = 0; i < h; ++i) f[i] = static_cast<float>(0.5 / std::cos(pi * (2 * i + 1) / (4.0 * h)));
    }
}

void CSubbandDct::Run(float* x, int n) const {
    float scratch[32];
    if (n == 32) Halve<32>(x, scratch);
    else Halve<16>(x, scratch);
}

// The sizes are template arguments so every stage unrolls into straight code.
template <int N>
void CSubbandDct::Halve(float* x, float* scratch) const {
    if constexpr (N > 1) {
        constexpr int h = N / 2;
        const float* f = m_factors + (h - 1);
        float* a = scratch;
        float* b = scratch + h;
        for (int i = 0; i < h; ++i) {
            const float u = x[i];
            const float v = x[N - 1 - i];
            a[i] = u + v;
            b[i] = (u - v) * f[i];
        }
        Halve<h>(a, x);
        Halve<h>(b, x + h);
        for (int k = 0; k < h; ++k) x[2 * k] = a[k];
        for (int k = 0; k < h - 1; ++k) x[2 * k + 1] = b[k] + b[k + 1];
        x[N - 1] = b[h - 1];
    }
}
