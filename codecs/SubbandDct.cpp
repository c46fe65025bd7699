#include "codecs/SubbandDct.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
constexpr bool kHaveSse2 = true;
#else
constexpr bool kHaveSse2 = false;
#endif

CSubbandDct::CSubbandDct() {
    const double pi = 3.14159265358979323846;
    for (int h = 1; h <= 16; h *= 2) {
        float* f = m_factors + (h - 1);
        for (int i = 0; i < h; ++i) f[i] = static_cast<float>(0.5 / std::cos(pi * (2 * i + 1) / (4.0 * h)));
    }
}

void CSubbandDct::Run(float* x, int n) const {
    float scratch[32];
    if (n == 32) Halve<32, kHaveSse2>(x, scratch);
    else Halve<16, kHaveSse2>(x, scratch);
}

void CSubbandDct::RunPortable(float* x, int n) const {
    float scratch[32];
    if (n == 32) Halve<32, false>(x, scratch);
    else Halve<16, false>(x, scratch);
}

// The sizes are template arguments so every stage unrolls into straight code.
template <int N, bool kVector>
void CSubbandDct::Halve(float* x, float* scratch) const {
    if constexpr (N > 1) {
        constexpr int h = N / 2;
        const float* f = m_factors + (h - 1);
        float* a = scratch;
        float* b = scratch + h;
#if defined(__SSE2__)
        if constexpr (kVector && h >= 4) {
            for (int i = 0; i < h; i += 4) {
                const __m128 u = _mm_loadu_ps(x + i);
                const __m128 r = _mm_loadu_ps(x + N - 4 - i);
                const __m128 v = _mm_shuffle_ps(r, r, _MM_SHUFFLE(0, 1, 2, 3));  // x[N - 1 - i] first
                _mm_storeu_ps(a + i, _mm_add_ps(u, v));
                _mm_storeu_ps(b + i, _mm_mul_ps(_mm_sub_ps(u, v), _mm_loadu_ps(f + i)));
            }
            Halve<h, kVector>(a, x);
            Halve<h, kVector>(b, x + h);
            for (int k = 0; k < h; k += 4) {
                const __m128 bk = _mm_loadu_ps(b + k);
                // b[k + 1 ..]; the last group shifts in a zero and its last sum is replaced below.
                const __m128 next = k + 4 < h ? _mm_loadu_ps(b + k + 1)
                                              : _mm_castsi128_ps(_mm_srli_si128(_mm_castps_si128(bk), 4));
                const __m128 ak = _mm_loadu_ps(a + k);
                const __m128 odd = _mm_add_ps(bk, next);
                _mm_storeu_ps(x + 2 * k, _mm_unpacklo_ps(ak, odd));
                _mm_storeu_ps(x + 2 * k + 4, _mm_unpackhi_ps(ak, odd));
            }
            x[N - 1] = b[h - 1];
            return;
        }
#endif
        for (int i = 0; i < h; ++i) {
            const float u = x[i];
            const float v = x[N - 1 - i];
            a[i] = u + v;
            b[i] = (u - v) * f[i];
        }
        Halve<h, kVector>(a, x);
        Halve<h, kVector>(b, x + h);
        for (int k = 0; k < h; ++k) x[2 * k] = a[k];
        for (int k = 0; k < h - 1; ++k) x[2 * k + 1] = b[k] + b[k + 1];
        x[N - 1] = b[h - 1];
    }
}
