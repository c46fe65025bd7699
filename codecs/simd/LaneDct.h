#pragma once
// The 32-point matrixing DCT of the synthesis filter bank run on several time
// slots at once, one slot per vector lane. Each lane goes through the very
// operations of CSubbandDct, in its order, so every path gives its bits
// whatever the lane width. Layer II and Layer III synthesis share it;
// included by their kernel files only.
#include <cmath>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace lanedct {

// 1 / (2 cos(pi (2i + 1) / 4h)) for the halving steps of size 2h, as CSubbandDct has them.
struct Factors {
    float f[31];
    Factors() {
        const double pi = 3.14159265358979323846;
        for (int h = 1; h <= 16; h *= 2)
            for (int i = 0; i < h; ++i) f[h - 1 + i] = static_cast<float>(0.5 / std::cos(pi * (2 * i + 1) / (4.0 * h)));
    }
};

inline const Factors& DctFactors() {
    static const Factors factors;
    return factors;
}

// L: the lane type with V, Add, Sub, Mul and Set1.
template <class L, int N>
inline void Halve(typename L::V* x, typename L::V* scratch, const float* factors) {
    if constexpr (N > 1) {
        constexpr int h = N / 2;
        const float* f = factors + (h - 1);
        typename L::V* a = scratch;
        typename L::V* b = scratch + h;
        // Unrolled, so that every index is a constant and the stages become straight code.
#pragma GCC unroll 16
        for (int i = 0; i < h; ++i) {
            const typename L::V u = x[i];
            const typename L::V v = x[N - 1 - i];
            a[i] = L::Add(u, v);
            b[i] = L::Mul(L::Sub(u, v), L::Set1(f[i]));
        }
        Halve<L, h>(a, x, factors);
        Halve<L, h>(b, x + h, factors);
#pragma GCC unroll 16
        for (int k = 0; k < h; ++k) x[2 * k] = a[k];
#pragma GCC unroll 16
        for (int k = 0; k < h - 1; ++k) x[2 * k + 1] = L::Add(b[k], b[k + 1]);
        x[N - 1] = b[h - 1];
    }
}

struct ScalarLanes {
    using V = float;
    static V Add(V a, V b) { return a + b; }
    static V Sub(V a, V b) { return a - b; }
    static V Mul(V a, V b) { return a * b; }
    static V Set1(float f) { return f; }
};

#if defined(__SSE2__)
struct Sse2Lanes {
    using V = __m128;
    static V Add(V a, V b) { return _mm_add_ps(a, b); }
    static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V Set1(float f) { return _mm_set1_ps(f); }
};
#endif

}  // namespace lanedct
