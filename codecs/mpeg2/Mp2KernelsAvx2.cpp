#include "codecs/mpeg2/Mp2Kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "codecs/simd/KernelSet.h"

namespace {

VELMORA_AVX2 void AnalysisWindow(const float* c, const float* h, float* y) {
    __m256 acc[8];
    for (__m256& a : acc) a = _mm256_setzero_ps();
    for (int j = 0; j < 8; ++j)
#pragma GCC unroll 16
        for (int q = 0; q < 8; ++q)
            acc[q] = _mm256_add_ps(acc[q],
                                   _mm256_mul_ps(_mm256_loadu_ps(c + 64 * j + 8 * q), _mm256_loadu_ps(h + 64 * j + 8 * q)));
    for (int q = 0; q < 8; ++q) _mm256_storeu_ps(y + 8 * q, acc[q]);
}

VELMORA_AVX2 void AnalysisMatrix(const float* a, const float* m, float* out) {
    __m256 even[2], odd[2];
    for (int q = 0; q < 2; ++q) even[q] = odd[q] = _mm256_setzero_ps();
#pragma GCC unroll 16
    for (int n = 0; n < 32; n += 2) {
        const __m256 x = _mm256_set1_ps(a[n]), y = _mm256_set1_ps(a[n + 1]);
        for (int q = 0; q < 2; ++q) {
            even[q] = _mm256_add_ps(even[q], _mm256_mul_ps(x, _mm256_loadu_ps(m + 16 * n + 8 * q)));
            odd[q] = _mm256_add_ps(odd[q], _mm256_mul_ps(y, _mm256_loadu_ps(m + 16 * (n + 1) + 8 * q)));
        }
    }
    const __m256i reverse = _mm256_set_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int q = 0; q < 2; ++q) {
        _mm256_storeu_ps(out + 8 * q, _mm256_add_ps(even[q], odd[q]));
        _mm256_storeu_ps(out + 24 - 8 * q, _mm256_permutevar8x32_ps(_mm256_sub_ps(even[q], odd[q]), reverse));
    }
}

// Mp2RoundClip16 eight at a time, as the SSE2 set does it four at a time.
VELMORA_AVX2 inline __m256i Round(const float* p) {
    __m256 x = _mm256_loadu_ps(p);
    x = _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));  // NaN -> 0
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-32768.0f)), _mm256_set1_ps(32767.0f));
    const __m256i t = _mm256_cvttps_epi32(x);
    const __m256 f = _mm256_sub_ps(x, _mm256_cvtepi32_ps(t));
    const __m256 odd = _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(t, _mm256_set1_epi32(1)), _mm256_set1_epi32(1)));
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 minusHalf = _mm256_set1_ps(-0.5f);
    const __m256 up = _mm256_or_ps(_mm256_cmp_ps(f, half, _CMP_GT_OQ), _mm256_and_ps(_mm256_cmp_ps(f, half, _CMP_EQ_OQ), odd));
    const __m256 down =
        _mm256_or_ps(_mm256_cmp_ps(f, minusHalf, _CMP_LT_OQ), _mm256_and_ps(_mm256_cmp_ps(f, minusHalf, _CMP_EQ_OQ), odd));
    return _mm256_add_epi32(_mm256_sub_epi32(t, _mm256_castps_si256(up)), _mm256_castps_si256(down));
}

// Packing works within 128-bit lanes; the permute puts each channel's 16
// samples back in order.
VELMORA_AVX2 void Pcm16(const float* left, const float* right, int16_t* out, int n) {
    int i = 0;
    if (!right) {
        for (; i + 16 <= n; i += 16)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                                _mm256_permute4x64_epi64(_mm256_packs_epi32(Round(left + i), Round(left + i + 8)), 0xD8));
        for (; i < n; ++i) out[i] = Mp2RoundClip16(left[i]);
        return;
    }
    for (; i + 16 <= n; i += 16) {
        const __m256i l = _mm256_permute4x64_epi64(_mm256_packs_epi32(Round(left + i), Round(left + i + 8)), 0xD8);
        const __m256i r = _mm256_permute4x64_epi64(_mm256_packs_epi32(Round(right + i), Round(right + i + 8)), 0xD8);
        const __m256i lo = _mm256_unpacklo_epi16(l, r);  // samples 0-3 | 8-11
        const __m256i hi = _mm256_unpackhi_epi16(l, r);  // samples 4-7 | 12-15
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i + 16), _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    for (; i < n; ++i) {
        out[2 * i] = Mp2RoundClip16(left[i]);
        out[2 * i + 1] = Mp2RoundClip16(right[i]);
    }
}

}  // namespace

namespace mp2kernels {
const SMp2Kernels kAvx2 = {Pcm16, AnalysisWindow, AnalysisMatrix};
}
#endif
