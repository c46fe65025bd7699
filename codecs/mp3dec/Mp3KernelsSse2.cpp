#include "codecs/mp3dec/Mp3Kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

void Window(const float* v, const float* w, float* pcm) {
    __m128 acc[8];
    for (__m128& a : acc) a = _mm_setzero_ps();
    for (int i = 0; i < 8; ++i) {
        const float* v0 = v + 128 * i;
        const float* w0 = w + 64 * i;
        for (int q = 0; q < 8; ++q)
            acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_loadu_ps(v0 + 4 * q), _mm_loadu_ps(w0 + 4 * q)));
        for (int q = 0; q < 8; ++q)
            acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_loadu_ps(v0 + 96 + 4 * q), _mm_loadu_ps(w0 + 32 + 4 * q)));
    }
    for (int q = 0; q < 8; ++q) _mm_storeu_ps(pcm + 4 * q, acc[q]);
}

void ImdctSums(const float* in, const float* cos, float* s) {
    __m128 acc[5];
    for (__m128& a : acc) a = _mm_setzero_ps();
    for (int k = 0; k < 18; ++k) {
        const __m128 x = _mm_set1_ps(in[k]);
        for (int q = 0; q < 5; ++q) acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(x, _mm_loadu_ps(cos + 20 * k + 4 * q)));
    }
    for (int q = 0; q < 5; ++q) _mm_storeu_ps(s + 4 * q, acc[q]);
}

// Clamping first keeps the conversion in range; it then rounds half to even
// under the default rounding mode, as the scalar path does.
inline __m128i Round(const float* p) {
    const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(p), _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    return _mm_cvtps_epi32(v);
}

void Pcm16(const float* left, const float* right, uint8_t* out) {
    auto* o = reinterpret_cast<__m128i*>(out);
    for (int j = 0; j < 32; j += 8) {
        const __m128i l = _mm_packs_epi32(Round(left + j), Round(left + j + 4));
        if (!right) {
            _mm_storeu_si128(o++, l);
            continue;
        }
        const __m128i r = _mm_packs_epi32(Round(right + j), Round(right + j + 4));
        _mm_storeu_si128(o++, _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(o++, _mm_unpackhi_epi16(l, r));
    }
}

}  // namespace

namespace mp3kernels {
const SMp3Kernels kSse2 = {Window, ImdctSums, Pcm16};
}
#endif
