#include "mp3enc/util/VectorOps.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#define VELMORA_HAVE_SSE 1
#endif

namespace {
// Relaxed: the flag is written once before any encoder starts.
std::atomic<int> g_sse{0};

bool Aligned(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15u) == 0; }

#ifdef VELMORA_HAVE_SSE
bool UseSse(const void* a, const void* b, const void* c) {
    return g_sse.load(std::memory_order_relaxed) && Aligned(a) && Aligned(b) && Aligned(c);
}
#endif

// Plain paths compute in double and round on each store.
template <typename Op>
void Plain2(const float* x, const float* y, float* z, int n, Op op) {
    for (int i = 0; i < n; ++i) z[i] = static_cast<float>(op(static_cast<double>(x[i]), static_cast<double>(y[i])));
}
}  // namespace

void VecSetSse(int on) { g_sse.store(on ? 1 : 0, std::memory_order_relaxed); }
int VecGetSse() { return g_sse.load(std::memory_order_relaxed); }

#ifdef VELMORA_HAVE_SSE
#define SSE_BINARY(NAME, INTRIN, PLAIN)                                              \
    void NAME(const float* x, const float* y, float* z, int n) {                     \
        if (n <= 0) return;                                                          \
        int i = 0;                                                                   \
        if (UseSse(x, y, z)) {                                                       \
            for (; i + 8 <= n; i += 8) {                                             \
                _mm_store_ps(z + i, INTRIN(_mm_load_ps(x + i), _mm_load_ps(y + i))); \
                _mm_store_ps(z + i + 4, INTRIN(_mm_load_ps(x + i + 4), _mm_load_ps(y + i + 4))); \
            }                                                                        \
        }                                                                            \
        Plain2(x + i, y + i, z + i, n - i, PLAIN);                                   \
    }
#else
#define SSE_BINARY(NAME, INTRIN, PLAIN) \
    void NAME(const float* x, const float* y, float* z, int n) { if (n > 0) Plain2(x, y, z, n, PLAIN); }
#endif

SSE_BINARY(VecAdd, _mm_add_ps, [](double a, double b) { return a + b; })
SSE_BINARY(VecMul, _mm_mul_ps, [](double a, double b) { return a * b; })
SSE_BINARY(VecMin, _mm_min_ps, [](double a, double b) { return a < b ? a : b; })
SSE_BINARY(VecMax, _mm_max_ps, [](double a, double b) { return a > b ? a : b; })

void VecDiv(const float* x, const float* y, float* z, int n) {
    if (n <= 0) return;
    int i = 0;
#ifdef VELMORA_HAVE_SSE
    if (UseSse(x, y, z)) {
        for (; i + 4 <= n; i += 4) {
            const __m128 d = _mm_load_ps(y + i);
            const __m128 r = _mm_rcp_ps(d);
            // One Newton-Raphson step: r' = 2r - d r^2.
            const __m128 r2 = _mm_sub_ps(_mm_add_ps(r, r), _mm_mul_ps(d, _mm_mul_ps(r, r)));
            _mm_store_ps(z + i, _mm_mul_ps(_mm_load_ps(x + i), r2));
        }
    }
#endif
    Plain2(x + i, y + i, z + i, n - i, [](double a, double b) { return a / b; });
}

int VecCopy(const float* source, float* destination, int n) {
    VecCopyBlock(source, destination, n);
    return n;
}

void VecCopyBlock(const float* source, float* destination, int n) {
    if (n <= 0 || source == destination) return;
    std::memmove(destination, source, static_cast<size_t>(n) * sizeof(float));
}

int VecCopyStrided(const uint32_t* source, int ss, uint32_t* destination, int sd, int n) {
    for (int k = 0; k < n; ++k) destination[k * sd] = source[k * ss];
    return n;
}

void VecAddStrided(const float* x, int sx, const float* y, int sy, float* z, int sz, int n) {
    for (int k = 0; k < n; ++k)
        z[k * sz] = static_cast<float>(static_cast<double>(x[k * sx]) + static_cast<double>(y[k * sy]));
}

void VecScale(float c, const float* x, float* z, int n) {
    if (n <= 0) return;
    int i = 0;
#ifdef VELMORA_HAVE_SSE
    if (UseSse(x, x, z)) {
        const __m128 cc = _mm_set1_ps(c);
        for (; i + 8 <= n; i += 8) {
            _mm_store_ps(z + i, _mm_mul_ps(cc, _mm_load_ps(x + i)));
            _mm_store_ps(z + i + 4, _mm_mul_ps(cc, _mm_load_ps(x + i + 4)));
        }
    }
#endif
    for (; i < n; ++i) z[i] = static_cast<float>(static_cast<double>(c) * x[i]);
}

void VecScaleStrided(float c, const float* x, int sx, float* z, int sz, int n) {
    for (int k = 0; k < n; ++k) z[k * sz] = static_cast<float>(static_cast<double>(c) * x[k * sx]);
}

void VecScaleInPlace(float c, float* x, int n) {
    for (int i = 0; i < n; ++i) x[i] = static_cast<float>(static_cast<double>(c) * x[i]);
}

void VecMinStrided(const float* x, int sx, const float* y, int sy, float* z, int sz, int n) {
    for (int k = 0; k < n; ++k) z[k * sz] = x[k * sx] < y[k * sy] ? x[k * sx] : y[k * sy];
}

void VecMaxStrided(const float* x, int sx, const float* y, int sy, float* z, int sz, int n) {
    for (int k = 0; k < n; ++k) z[k * sz] = x[k * sx] > y[k * sy] ? x[k * sx] : y[k * sy];
}

void VecAbs(const float* x, float* z, int n) {
    if (n <= 0) return;
    int i = 0;
#ifdef VELMORA_HAVE_SSE
    if (UseSse(x, x, z)) {
        const __m128 mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        for (; i + 8 <= n; i += 8) {
            _mm_store_ps(z + i, _mm_and_ps(mask, _mm_load_ps(x + i)));
            _mm_store_ps(z + i + 4, _mm_and_ps(mask, _mm_load_ps(x + i + 4)));
        }
    }
#endif
    for (; i < n; ++i) z[i] = std::fabs(x[i]);
}

void VecClip(float low, float high, const float* x, float* z, int n) {
    if (n <= 0) return;
    int i = 0;
#ifdef VELMORA_HAVE_SSE
    if (UseSse(x, x, z)) {
        const __m128 lo = _mm_set1_ps(low), hi = _mm_set1_ps(high);
        for (; i + 4 <= n; i += 4) _mm_store_ps(z + i, _mm_min_ps(_mm_max_ps(_mm_load_ps(x + i), lo), hi));
    }
#endif
    for (; i < n; ++i) {
        float v = x[i] < low ? low : x[i];
        z[i] = v > high ? high : v;
    }
}

void VecAbsInt(const int32_t* x, int32_t* z, int n) {
    for (int i = 0; i < n; ++i) z[i] = x[i] < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(x[i])) : x[i];
}

void VecExp(const float* x, float* z, int n) {
    for (int i = 0; i < n; ++i) {
        const double e = static_cast<double>(x[i]) * 1.4426950408889634;  // log2(e)
        const double whole = std::floor(e);
        z[i] = static_cast<float>(std::ldexp(std::exp2(e - whole), static_cast<int>(
                                                 whole < -2000 ? -2000 : (whole > 2000 ? 2000 : whole))));
    }
}

void VecLog(float a, float b, const float* x, float* z, int n) {
    for (int i = 0; i < n; ++i)
        z[i] = static_cast<float>(a * std::log2(static_cast<double>(b) * x[i]) * 0.6931471805599453);
}

void VecSqrt(const float* x, float* z, int n) {
    for (int i = 0; i < n; ++i) z[i] = static_cast<float>(std::sqrt(static_cast<double>(x[i])));
}

float VecDot(const float* x, const float* y, int n) {
    if (n <= 0) return 0.0f;
    int i = 0;
    double sum = 0.0;
#ifdef VELMORA_HAVE_SSE
    if (UseSse(x, y, y)) {
        __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
        for (; i + 8 <= n; i += 8) {
            a = _mm_add_ps(a, _mm_mul_ps(_mm_load_ps(x + i), _mm_load_ps(y + i)));
            b = _mm_add_ps(b, _mm_mul_ps(_mm_load_ps(x + i + 4), _mm_load_ps(y + i + 4)));
        }
        alignas(16) float part[8];
        _mm_store_ps(part, a);
        _mm_store_ps(part + 4, b);
        for (float p : part) sum += p;
    }
#endif
    for (; i < n; ++i) sum += static_cast<double>(x[i]) * y[i];
    return static_cast<float>(sum);
}

float VecEnergy(const float* x, int n) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * x[i];
    return static_cast<float>(sum);
}

void VecPowerSpectrum(const float* pairs, float* z, int n) {
    for (int i = 0; i < n; ++i) {
        const double re = pairs[2 * i], im = pairs[2 * i + 1];
        z[i] = static_cast<float>(re * re + im * im);
    }
}

void VecFill(uint32_t pattern, float* z, int n) {
    float v;
    std::memcpy(&v, &pattern, sizeof v);
    for (int i = 0; i < n; ++i) z[i] = v;
}

void VecFillInt(int32_t value, int32_t* z, int n) {
    for (int i = 0; i < n; ++i) z[i] = value;
}
