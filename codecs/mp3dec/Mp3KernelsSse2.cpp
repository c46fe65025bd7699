#include "codecs/mp3dec/Mp3Kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#include "codecs/simd/LaneDct.h"

namespace {

// Named accumulators rather than an array, so that they stay in registers.
void Window(const float* v, const float* w, float* pcm) {
    auto term = [](__m128 acc, const float* x, const float* y) {
        return _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(x), _mm_loadu_ps(y)));
    };
    // Two passes of 16 outputs each keep the accumulators within the eight registers of 32-bit x86.
    for (int half = 0; half < 32; half += 16) {
        __m128 a0 = _mm_setzero_ps();
        __m128 a1 = _mm_setzero_ps();
        __m128 a2 = _mm_setzero_ps();
        __m128 a3 = _mm_setzero_ps();
        for (int i = 0; i < 8; ++i) {
            const float* v0 = v + 128 * i + half;
            const float* w0 = w + 64 * i + half;
            a0 = term(a0, v0, w0);
            a1 = term(a1, v0 + 4, w0 + 4);
            a2 = term(a2, v0 + 8, w0 + 8);
            a3 = term(a3, v0 + 12, w0 + 12);
            a0 = term(a0, v0 + 96, w0 + 32);
            a1 = term(a1, v0 + 100, w0 + 36);
            a2 = term(a2, v0 + 104, w0 + 40);
            a3 = term(a3, v0 + 108, w0 + 44);
        }
        _mm_storeu_ps(pcm + half, a0);
        _mm_storeu_ps(pcm + half + 4, a1);
        _mm_storeu_ps(pcm + half + 8, a2);
        _mm_storeu_ps(pcm + half + 12, a3);
    }
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

inline __m128 Reversed(__m128 x) { return _mm_shuffle_ps(x, x, _MM_SHUFFLE(0, 1, 2, 3)); }

void Long36(const float* s, const float* w, float* overlap, float* out) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    float y[36];
    _mm_storeu_ps(y, _mm_loadu_ps(s));
    _mm_storeu_ps(y + 4, _mm_loadu_ps(s + 4));
    y[8] = s[8];
    y[9] = -s[8];
    _mm_storeu_ps(y + 10, Reversed(_mm_xor_ps(_mm_loadu_ps(s + 4), sign)));
    _mm_storeu_ps(y + 14, Reversed(_mm_xor_ps(_mm_loadu_ps(s), sign)));
    const __m128 lo = _mm_loadu_ps(s + 9);
    const __m128 hi = _mm_loadu_ps(s + 13);
    _mm_storeu_ps(y + 18, lo);
    _mm_storeu_ps(y + 22, hi);
    y[26] = s[17];
    y[27] = s[17];
    _mm_storeu_ps(y + 28, Reversed(hi));
    _mm_storeu_ps(y + 32, Reversed(lo));
    for (int i = 0; i < 16; i += 4) {
        const __m128 o = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(y + i), _mm_loadu_ps(w + i)), _mm_loadu_ps(overlap + i));
        _mm_storeu_ps(out + i, o);
        _mm_storeu_ps(overlap + i, _mm_mul_ps(_mm_loadu_ps(y + 18 + i), _mm_loadu_ps(w + 18 + i)));
    }
    for (int i = 16; i < 18; ++i) {
        out[i] = y[i] * w[i] + overlap[i];
        overlap[i] = y[i + 18] * w[i + 18];
    }
}

void Alias(float* xr, int boundaries, const float* cs, const float* ca) {
    const __m128 cs0 = _mm_loadu_ps(cs);
    const __m128 cs1 = _mm_loadu_ps(cs + 4);
    const __m128 ca0 = _mm_loadu_ps(ca);
    const __m128 ca1 = _mm_loadu_ps(ca + 4);
    for (int sb = 1; sb <= boundaries; ++sb) {
        float* p = xr + 18 * sb;
        // a[i] = p[-1 - i]: the four below p reversed, then the four below those.
        const __m128 a0 = Reversed(_mm_loadu_ps(p - 4));
        const __m128 a1 = Reversed(_mm_loadu_ps(p - 8));
        const __m128 b0 = _mm_loadu_ps(p);
        const __m128 b1 = _mm_loadu_ps(p + 4);
        _mm_storeu_ps(p - 4, Reversed(_mm_sub_ps(_mm_mul_ps(a0, cs0), _mm_mul_ps(b0, ca0))));
        _mm_storeu_ps(p - 8, Reversed(_mm_sub_ps(_mm_mul_ps(a1, cs1), _mm_mul_ps(b1, ca1))));
        _mm_storeu_ps(p, _mm_add_ps(_mm_mul_ps(b0, cs0), _mm_mul_ps(a0, ca0)));
        _mm_storeu_ps(p + 4, _mm_add_ps(_mm_mul_ps(b1, cs1), _mm_mul_ps(a1, ca1)));
    }
}

// Magnitudes, limit and sign four lines at a time; the table look-ups stay
// scalar (SSE2 has no gather). The product is the scalar path's.
void Requantize(const int32_t* val, int n, float gain, const float* pow43, int pow43Max, float* xr) {
    const __m128 g = _mm_set1_ps(gain);
    const __m128i limit = _mm_set1_epi32(pow43Max);
    const __m128i signBit = _mm_set1_epi32(static_cast<int32_t>(0x80000000u));
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(val + i));
        const __m128i s = _mm_srai_epi32(v, 31);
        __m128i a = _mm_sub_epi32(_mm_xor_si128(v, s), s);
        const __m128i over = _mm_cmpgt_epi32(a, limit);
        a = _mm_or_si128(_mm_andnot_si128(over, a), _mm_and_si128(over, limit));
        alignas(16) int32_t idx[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(idx), a);
        const __m128 p = _mm_setr_ps(pow43[idx[0]], pow43[idx[1]], pow43[idx[2]], pow43[idx[3]]);
        const __m128 q = _mm_xor_ps(_mm_mul_ps(p, g), _mm_castsi128_ps(_mm_and_si128(v, signBit)));
        _mm_storeu_ps(xr + i, q);
    }
    if (i < n) mp3kernels::kScalar.requantize(val + i, n - i, gain, pow43, pow43Max, xr + i);
}

// Four slots at a time, one per lane; the fifth group's last two lanes run
// past the granule into the next subband's slots and are never read.
void Dct32(const float* time, int subbands, float* x) {
    const float* f = lanedct::DctFactors().f;
    for (int t0 = 0; t0 < 20; t0 += 4) {
        __m128 lanes[32];
        __m128 scratch[32];
#pragma GCC unroll 32
        for (int k = 0; k < 32; ++k) lanes[k] = k < subbands ? _mm_loadu_ps(time + 18 * k + t0) : _mm_setzero_ps();
        lanedct::Halve<lanedct::Sse2Lanes, 32>(lanes, scratch, f);
        for (int k = 0; k < 32; k += 4) {
            __m128 r0 = lanes[k];
            __m128 r1 = lanes[k + 1];
            __m128 r2 = lanes[k + 2];
            __m128 r3 = lanes[k + 3];
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_storeu_ps(x + 32 * t0 + k, r0);
            _mm_storeu_ps(x + 32 * (t0 + 1) + k, r1);
            _mm_storeu_ps(x + 32 * (t0 + 2) + k, r2);
            _mm_storeu_ps(x + 32 * (t0 + 3) + k, r3);
        }
    }
}

// As the scalar block: v[j] = x[16 + j], v[16] = 0, v[48 - i] = v[48 + i] = -x[i].
// The mirrored stores overlap at v[48], where both write -x[0].
void Block(const float* x, float* v) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    for (int k = 0; k < 32; k += 4) {
        const __m128 a = _mm_loadu_ps(x + k);
        const __m128 n = _mm_xor_ps(a, sign);
        _mm_storeu_ps(v + 45 - k, Reversed(n));
        if (k < 16) _mm_storeu_ps(v + 48 + k, n);
        else _mm_storeu_ps(v + k - 16, a);
    }
    v[16] = 0.0f;
    std::memcpy(v + 1024, v, 64 * sizeof(float));
}

}  // namespace

namespace mp3kernels {
const SMp3Kernels kSse2 = {Window, ImdctSums, Pcm16, Dct32, Block, Long36, Alias, Requantize};
void Sse2Dct32(const float* time, int subbands, float* x) { Dct32(time, subbands, x); }
void Sse2Block(const float* x, float* v) { Block(x, v); }
void Sse2Long36(const float* s, const float* w, float* overlap, float* out) { Long36(s, w, overlap, out); }
void Sse2Alias(float* xr, int boundaries, const float* cs, const float* ca) { Alias(xr, boundaries, cs, ca); }
void Sse2Requantize(const int32_t* val, int n, float gain, const float* pow43, int pow43Max, float* xr) {
    Requantize(val, n, gain, pow43, pow43Max, xr);
}
}
#endif
