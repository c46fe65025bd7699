#pragma once
// The inner products of the filter banks: acc[j] += a[j] b[j] and
// acc[j] += x b[j] over n floats, n a multiple of 4. Every output keeps the
// order of its terms and no multiply-add is fused, so the vector and scalar
// paths give the same bits.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace muladd {

inline void ProductsScalar(float* acc, const float* a, const float* b, int n) {
    for (int j = 0; j < n; ++j) acc[j] += a[j] * b[j];
}

inline void ScaledScalar(float* acc, float x, const float* b, int n) {
    for (int j = 0; j < n; ++j) acc[j] += x * b[j];
}

#if defined(__SSE2__)
inline void ProductsSse2(float* acc, const float* a, const float* b, int n) {
    for (int j = 0; j < n; j += 4)
        _mm_storeu_ps(acc + j, _mm_add_ps(_mm_loadu_ps(acc + j), _mm_mul_ps(_mm_loadu_ps(a + j), _mm_loadu_ps(b + j))));
}

inline void ScaledSse2(float* acc, float x, const float* b, int n) {
    const __m128 s = _mm_set1_ps(x);
    for (int j = 0; j < n; j += 4)
        _mm_storeu_ps(acc + j, _mm_add_ps(_mm_loadu_ps(acc + j), _mm_mul_ps(s, _mm_loadu_ps(b + j))));
}
#endif

inline void Products(float* acc, const float* a, const float* b, int n) {
#if defined(__SSE2__)
    ProductsSse2(acc, a, b, n);
#else
    ProductsScalar(acc, a, b, n);
#endif
}

inline void Scaled(float* acc, float x, const float* b, int n) {
#if defined(__SSE2__)
    ScaledSse2(acc, x, b, n);
#else
    ScaledScalar(acc, x, b, n);
#endif
}

}  // namespace muladd
