#include "codecs/mpeg2/Mp2PsyMath.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mp2 {
namespace {

// exp(x) = 2^k exp(r), k the nearest whole number to x / ln 2 (by adding
// 1.5 * 2^52, which leaves k in the low bits), r = x - k ln 2 in two parts,
// exp(r) by its series to r^13 (|r| < 0.35: the rest is below 1e-17).
constexpr double kLog2e = 1.4426950408889634074;
constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2 with 21 zero bits at the end
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kShift = 6755399441055744.0;          // 1.5 * 2^52
constexpr double kDbToLn = 0.23025850929940456840;     // ln 10 / 10
constexpr double kExpCoeff[14] = {1.0,
                                  1.0,
                                  1.0 / 2,
                                  1.0 / 6,
                                  1.0 / 24,
                                  1.0 / 120,
                                  1.0 / 720,
                                  1.0 / 5040,
                                  1.0 / 40320,
                                  1.0 / 362880,
                                  1.0 / 3628800,
                                  1.0 / 39916800,
                                  1.0 / 479001600,
                                  1.0 / 6227020800};
constexpr double kLimit = 690.0;

// ln m = 2 atanh(s), s = (m - 1) / (m + 1), m in [sqrt(1/2), sqrt(2)):
// |s| < 0.172, the series to s^21 leaves less than 1e-17.
constexpr double kSqrt2 = 1.41421356237309504880;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kTenLog10e = 4.3429448190325182765;  // 10 / ln 10
constexpr double kAtanhCoeff[11] = {1.0,      1.0 / 3,  1.0 / 5,  1.0 / 7,  1.0 / 9, 1.0 / 11,
                                    1.0 / 13, 1.0 / 15, 1.0 / 17, 1.0 / 19, 1.0 / 21};
constexpr double kFloorPower = 1e-20;

// c[0] + x (c[1] + x (... + x c[N])), unrolled at compile time.
template <int I>
inline double HornerTail(double x, const double* c, double p) {
    if constexpr (I < 0) return p;
    else return HornerTail<I - 1>(x, c, p * x + c[I]);
}
template <int N>
inline double Horner(double x, const double* c) { return HornerTail<N - 1>(x, c, c[N]); }

#if defined(__SSE2__)
template <int I>
inline __m128d HornerTail(__m128d x, const double* c, __m128d p) {
    if constexpr (I < 0) return p;
    else return HornerTail<I - 1>(x, c, _mm_add_pd(_mm_mul_pd(p, x), _mm_set1_pd(c[I])));
}
template <int N>
inline __m128d Horner(__m128d x, const double* c) { return HornerTail<N - 1>(x, c, _mm_set1_pd(c[N])); }
#endif

uint64_t Bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double FromBits(uint64_t b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

double ExpOne(double x) {
    x = x > kLimit ? kLimit : (x < -kLimit ? -kLimit : x);
    const double t = x * kLog2e + kShift;
    const double k = t - kShift;
    const double r = (x - k * kLn2Hi) - k * kLn2Lo;
    const double p = Horner<13>(r, kExpCoeff);
    const uint64_t scale = (Bits(t) - Bits(kShift) + 1023) << 52;
    return p * FromBits(scale);
}

double DbOne(double power) {
    const double x = power > kFloorPower ? power : kFloorPower;
    const uint64_t b = Bits(x);
    double e = static_cast<double>(static_cast<int32_t>(b >> 52) - 1023);
    double m = FromBits((b & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    if (m > kSqrt2) {
        m = m * 0.5;
        e = e + 1.0;
    }
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    const double p = Horner<10>(s2, kAtanhCoeff);
    return (e * kLn2 + 2.0 * s * p) * kTenLog10e;
}

#if defined(__SSE2__)
__m128d ExpTwo(__m128d x) {
    x = _mm_min_pd(_mm_max_pd(x, _mm_set1_pd(-kLimit)), _mm_set1_pd(kLimit));
    const __m128d shift = _mm_set1_pd(kShift);
    const __m128d t = _mm_add_pd(_mm_mul_pd(x, _mm_set1_pd(kLog2e)), shift);
    const __m128d k = _mm_sub_pd(t, shift);
    const __m128d r =
        _mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(k, _mm_set1_pd(kLn2Hi))), _mm_mul_pd(k, _mm_set1_pd(kLn2Lo)));
    const __m128d p = Horner<13>(r, kExpCoeff);
    const __m128i scale = _mm_slli_epi64(
        _mm_add_epi64(_mm_sub_epi64(_mm_castpd_si128(t), _mm_castpd_si128(shift)), _mm_set1_epi64x(1023)), 52);
    return _mm_mul_pd(p, _mm_castsi128_pd(scale));
}

__m128d DbTwo(__m128d power) {
    const __m128d x = _mm_max_pd(power, _mm_set1_pd(kFloorPower));
    const __m128i b = _mm_castpd_si128(x);
    // The two exponents as 32-bit whole numbers, then as doubles.
    const __m128i biased = _mm_shuffle_epi32(_mm_srli_epi64(b, 52), _MM_SHUFFLE(3, 1, 2, 0));
    __m128d e = _mm_cvtepi32_pd(_mm_sub_epi32(biased, _mm_set1_epi32(1023)));
    __m128d m = _mm_castsi128_pd(_mm_or_si128(_mm_and_si128(b, _mm_set1_epi64x(0x000FFFFFFFFFFFFFll)),
                                              _mm_set1_epi64x(0x3FF0000000000000ll)));
    const __m128d big = _mm_cmpgt_pd(m, _mm_set1_pd(kSqrt2));
    const __m128d one = _mm_set1_pd(1.0);
    m = _mm_mul_pd(m, _mm_or_pd(_mm_and_pd(big, _mm_set1_pd(0.5)), _mm_andnot_pd(big, one)));
    e = _mm_add_pd(e, _mm_and_pd(big, one));
    const __m128d s = _mm_div_pd(_mm_sub_pd(m, one), _mm_add_pd(m, one));
    const __m128d s2 = _mm_mul_pd(s, s);
    const __m128d p = Horner<10>(s2, kAtanhCoeff);
    const __m128d ln = _mm_add_pd(_mm_mul_pd(e, _mm_set1_pd(kLn2)), _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(2.0), s), p));
    return _mm_mul_pd(ln, _mm_set1_pd(kTenLog10e));
}
#endif

}  // namespace

double PowOfDb(double db) { return ExpOne(db * kDbToLn); }
double DbOfPower(double power) { return DbOne(power); }

void PowOfDb(const double* db, double* out, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 2 <= n; i += 2)
        _mm_storeu_pd(out + i, ExpTwo(_mm_mul_pd(_mm_loadu_pd(db + i), _mm_set1_pd(kDbToLn))));
#endif
    for (; i < n; ++i) out[i] = PowOfDb(db[i]);
}

void DbOfPower(const double* power, double* out, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 2 <= n; i += 2) _mm_storeu_pd(out + i, DbTwo(_mm_loadu_pd(power + i)));
#endif
    for (; i < n; ++i) out[i] = DbOne(power[i]);
}

}  // namespace mp2
