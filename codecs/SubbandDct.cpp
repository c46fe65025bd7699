#include "codecs/SubbandDct.h"

#include <cmath>

CSubbandDct::CSubbandDct() {
    const double pi = 3.14159265358979323846;
    for (int h = 1; h <= 16; h *= 2) {
        float* f = m_factors + (h - 1);
        for (int i = 0; i < h; ++i) f[i] = static_cast<float>(0.5 / std::cos(pi * (2 * i + 1) / (4.0 * h)));
        m_factorOf[h] = f;
    }
}

void CSubbandDct::Run(float* x, int n) const {
    float scratch[32];
    Halve(x, scratch, n);
}

void CSubbandDct::Halve(float* x, float* scratch, int n) const {
    if (n == 1) return;
    const int h = n / 2;
    const float* f = m_factorOf[h];
    float* a = scratch;
    float* b = scratch + h;
    for (int i = 0; i < h; ++i) {
        const float u = x[i];
        const float v = x[n - 1 - i];
        a[i] = u + v;
        b[i] = (u - v) * f[i];
    }
    Halve(a, x, h);
    Halve(b, x + h, h);
    for (int k = 0; k < h; ++k) x[2 * k] = a[k];
    for (int k = 0; k < h - 1; ++k) x[2 * k + 1] = b[k] + b[k + 1];
    x[n - 1] = b[h - 1];
}
