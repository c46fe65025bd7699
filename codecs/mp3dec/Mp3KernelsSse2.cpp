#include "codecs/mp3dec/Mp3Kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#include "codecs/mp3dec/Mp3LaneDct.h"

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

struct Sse2Lanes {
    using V = __m128;
    static V Add(V a, V b) { return _mm_add_ps(a, b); }
    static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V Set1(float f) { return _mm_set1_ps(f); }
};

// Four slots at a time, one per lane; the fifth group's last two lanes run
// past the granule into the next subband's slots and are never read.
void Dct32(const float* time, int subbands, float* x) {
    const float* f = mp3lanes::DctFactors().f;
    for (int t0 = 0; t0 < 20; t0 += 4) {
        __m128 lanes[32];
        __m128 scratch[32];
        for (int k = 0; k < 32; ++k) lanes[k] = k < subbands ? _mm_loadu_ps(time + 18 * k + t0) : _mm_setzero_ps();
        mp3lanes::Halve<Sse2Lanes, 32>(lanes, scratch, f);
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
        _mm_storeu_ps(v + 45 - k, _mm_shuffle_ps(n, n, _MM_SHUFFLE(0, 1, 2, 3)));
        if (k < 16) _mm_storeu_ps(v + 48 + k, n);
        else _mm_storeu_ps(v + k - 16, a);
    }
    v[16] = 0.0f;
    std::memcpy(v + 1024, v, 64 * sizeof(float));
}

}  // namespace

namespace mp3kernels {
const SMp3Kernels kSse2 = {Window, ImdctSums, Pcm16, Dct32, Block};
void Sse2Dct32(const float* time, int subbands, float* x) { Dct32(time, subbands, x); }
void Sse2Block(const float* x, float* v) { Block(x, v); }
}
#endif
