#include "codecs/mp3dec/Mp3Kernels.h"

#if defined(__SSE2__)
#include <immintrin.h>

// Compiled for AVX2 function by function, so the rest of the build stays
// portable; only called after the processor has reported AVX2. FMA stays off:
// a fused multiply-add rounds once where the other paths round twice.
#define VELMORA_AVX2 __attribute__((target("avx2")))

namespace {

VELMORA_AVX2 inline __m256 Term(__m256 acc, const float* x, const float* y) {
    return _mm256_add_ps(acc, _mm256_mul_ps(_mm256_loadu_ps(x), _mm256_loadu_ps(y)));
}

// Named accumulators rather than an array, so that they stay in registers.
VELMORA_AVX2 void Window(const float* v, const float* w, float* pcm) {
    __m256 a0 = _mm256_setzero_ps();
    __m256 a1 = _mm256_setzero_ps();
    __m256 a2 = _mm256_setzero_ps();
    __m256 a3 = _mm256_setzero_ps();
    for (int i = 0; i < 8; ++i) {
        const float* v0 = v + 128 * i;
        const float* w0 = w + 64 * i;
        a0 = Term(a0, v0, w0);
        a1 = Term(a1, v0 + 8, w0 + 8);
        a2 = Term(a2, v0 + 16, w0 + 16);
        a3 = Term(a3, v0 + 24, w0 + 24);
        a0 = Term(a0, v0 + 96, w0 + 32);
        a1 = Term(a1, v0 + 104, w0 + 40);
        a2 = Term(a2, v0 + 112, w0 + 48);
        a3 = Term(a3, v0 + 120, w0 + 56);
    }
    _mm256_storeu_ps(pcm, a0);
    _mm256_storeu_ps(pcm + 8, a1);
    _mm256_storeu_ps(pcm + 16, a2);
    _mm256_storeu_ps(pcm + 24, a3);
}

VELMORA_AVX2 void ImdctSums(const float* in, const float* cos, float* s) {
    __m256 a0 = _mm256_setzero_ps();
    __m256 a1 = _mm256_setzero_ps();
    __m128 a2 = _mm_setzero_ps();
    for (int k = 0; k < 18; ++k) {
        const float* c = cos + 20 * k;
        const __m256 x = _mm256_set1_ps(in[k]);
        a0 = _mm256_add_ps(a0, _mm256_mul_ps(x, _mm256_loadu_ps(c)));
        a1 = _mm256_add_ps(a1, _mm256_mul_ps(x, _mm256_loadu_ps(c + 8)));
        a2 = _mm_add_ps(a2, _mm_mul_ps(_mm256_castps256_ps128(x), _mm_loadu_ps(c + 16)));
    }
    _mm256_storeu_ps(s, a0);
    _mm256_storeu_ps(s + 8, a1);
    _mm_storeu_ps(s + 16, a2);
}

VELMORA_AVX2 inline __m256i Round(const float* p) {
    const __m256 v =
        _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(p), _mm256_set1_ps(-32768.0f)), _mm256_set1_ps(32767.0f));
    return _mm256_cvtps_epi32(v);
}

// Packing works within 128-bit lanes; the permute puts the eight 16-bit
// samples of each channel back in order.
VELMORA_AVX2 void Pcm16(const float* left, const float* right, uint8_t* out) {
    auto* o = reinterpret_cast<__m256i*>(out);
    for (int j = 0; j < 32; j += 16) {
        const __m256i l = _mm256_permute4x64_epi64(_mm256_packs_epi32(Round(left + j), Round(left + j + 8)), 0xD8);
        if (!right) {
            _mm256_storeu_si256(o++, l);
            continue;
        }
        const __m256i r = _mm256_permute4x64_epi64(_mm256_packs_epi32(Round(right + j), Round(right + j + 8)), 0xD8);
        const __m256i lo = _mm256_unpacklo_epi16(l, r);  // samples 0-3 | 8-11
        const __m256i hi = _mm256_unpackhi_epi16(l, r);  // samples 4-7 | 12-15
        _mm256_storeu_si256(o++, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(o++, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
}

}  // namespace

namespace mp3kernels {
const SMp3Kernels kAvx2 = {Window, ImdctSums, Pcm16, Sse2Dct32, Sse2Block, Sse2Long36, Sse2Alias, Sse2Requantize};
}
#endif
