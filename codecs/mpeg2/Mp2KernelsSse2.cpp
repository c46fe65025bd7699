#include "codecs/mpeg2/Mp2Kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

// Mp2RoundClip16 four at a time: truncation, then the fraction decides, so
// the rounding mode plays no part.
inline __m128i Round(const float* p) {
    __m128 x = _mm_loadu_ps(p);
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));  // NaN -> 0
    x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    const __m128i t = _mm_cvttps_epi32(x);
    const __m128 f = _mm_sub_ps(x, _mm_cvtepi32_ps(t));
    const __m128 odd = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(t, _mm_set1_epi32(1)), _mm_set1_epi32(1)));
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 minusHalf = _mm_set1_ps(-0.5f);
    const __m128 up = _mm_or_ps(_mm_cmpgt_ps(f, half), _mm_and_ps(_mm_cmpeq_ps(f, half), odd));
    const __m128 down = _mm_or_ps(_mm_cmplt_ps(f, minusHalf), _mm_and_ps(_mm_cmpeq_ps(f, minusHalf), odd));
    // The masks are -1 where they hold.
    return _mm_add_epi32(_mm_sub_epi32(t, _mm_castps_si128(up)), _mm_castps_si128(down));
}

void Pcm16(const float* left, const float* right, int16_t* out, int n) {
    int i = 0;
    if (!right) {
        for (; i + 8 <= n; i += 8)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(Round(left + i), Round(left + i + 4)));
        for (; i < n; ++i) out[i] = Mp2RoundClip16(left[i]);
        return;
    }
    for (; i + 8 <= n; i += 8) {
        const __m128i l = _mm_packs_epi32(Round(left + i), Round(left + i + 4));
        const __m128i r = _mm_packs_epi32(Round(right + i), Round(right + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), _mm_unpackhi_epi16(l, r));
    }
    for (; i < n; ++i) {
        out[2 * i] = Mp2RoundClip16(left[i]);
        out[2 * i + 1] = Mp2RoundClip16(right[i]);
    }
}

void AnalysisWindow(const float* c, const float* h, float* y) {
    __m128 acc[16];
    for (__m128& a : acc) a = _mm_setzero_ps();
    for (int j = 0; j < 8; ++j)
#pragma GCC unroll 16
        for (int q = 0; q < 16; ++q)
            acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_loadu_ps(c + 64 * j + 4 * q), _mm_loadu_ps(h + 64 * j + 4 * q)));
    for (int q = 0; q < 16; ++q) _mm_storeu_ps(y + 4 * q, acc[q]);
}

void AnalysisMatrix(const float* a, const float* m, float* out) {
    __m128 even[4], odd[4];
    for (int q = 0; q < 4; ++q) even[q] = odd[q] = _mm_setzero_ps();
#pragma GCC unroll 16
    for (int n = 0; n < 32; n += 2) {
        const __m128 x = _mm_set1_ps(a[n]), y = _mm_set1_ps(a[n + 1]);
        for (int q = 0; q < 4; ++q) {
            even[q] = _mm_add_ps(even[q], _mm_mul_ps(x, _mm_loadu_ps(m + 16 * n + 4 * q)));
            odd[q] = _mm_add_ps(odd[q], _mm_mul_ps(y, _mm_loadu_ps(m + 16 * (n + 1) + 4 * q)));
        }
    }
    for (int q = 0; q < 4; ++q) {
        _mm_storeu_ps(out + 4 * q, _mm_add_ps(even[q], odd[q]));
        // Bands 31 - k run downwards: reverse each group of four.
        const __m128 d = _mm_sub_ps(even[q], odd[q]);
        _mm_storeu_ps(out + 28 - 4 * q, _mm_shuffle_ps(d, d, _MM_SHUFFLE(0, 1, 2, 3)));
    }
}

}  // namespace

namespace mp2kernels {
const SMp2Kernels kSse2 = {Pcm16, AnalysisWindow, AnalysisMatrix};
}
#endif
