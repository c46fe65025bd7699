#include "codecs/mpeg2/Mp2Kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

// Compiled for AVX2 function by function, so the rest of the build stays
// portable; only called after the processor has reported AVX2. FMA stays off:
// a fused multiply-add rounds once where the other paths round twice.
#define VELMORA_AVX2 __attribute__((target("avx2")))

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

}  // namespace

namespace mp2kernels {
// The 16-bit output stays with the SSE2 conversion: it is not where the time goes.
const SMp2Kernels kAvx2 = {kSse2.pcm16, AnalysisWindow, AnalysisMatrix};
}
#endif
