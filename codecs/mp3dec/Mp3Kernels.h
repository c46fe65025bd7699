#pragma once
// The inner loops of the Layer III filter bank, one set per instruction set.
// Every set gives the scalar set's bits: each output sums its terms in the same
// order, and no multiply-add is fused.
#include <cstdint>

#include "codecs/simd/VectorPath.h"

struct SMp3Kernels {
    // pcm[j] = sum over i = 0 .. 7 of v[128i + j] w[64i + j], then v[128i + 96 + j] w[64i + 32 + j]; j < 32.
    void (*window)(const float* v, const float* w, float* pcm);
    // s[c] = sum over k = 0 .. 17 of in[k] cos[20k + c]; c < 20.
    void (*imdctSums)(const float* in, const float* cos, float* s);
    // 32 samples of one channel (right null) or two, rounded half to even,
    // limited to 16 bits and written interleaved as little-endian pairs.
    void (*pcm16)(const float* left, const float* right, uint8_t* out);
    // The matrixing DCT of a granule's 18 time slots, CSubbandDct's bits for each:
    // slot t of subband s is time[18s + t], and two more floats are readable after
    // the last; subbands from `subbands` on count as zero. Coefficient k of slot t
    // goes to x[32t + k]. x holds 20 slots: the vector paths fill the last two
    // with values nobody reads.
    void (*dct32)(const float* time, int subbands, float* x);
    // The 64 values of one V block from the 32 coefficients, at v and again at v + 1024.
    void (*block)(const float* x, float* v);
    // The long-block IMDCT's 36 outputs from its 18 sums s (y[i] = s[i],
    // y[17 - i] = -s[i], y[18 + i] = y[35 - i] = s[9 + i], i < 9), windowed by w:
    // out[i] = y[i] w[i] + overlap[i], then overlap[i] = y[18 + i] w[18 + i]; i < 18.
    void (*long36)(const float* s, const float* w, float* overlap, float* out);
    // Alias reduction across the first `boundaries` subband boundaries of xr:
    // a = xr[18sb - 1 - i], b = xr[18sb + i] become a cs[i] - b ca[i] and b cs[i] + a ca[i]; i < 8.
    void (*alias)(float* xr, int boundaries, const float* cs, const float* ca);
    // Requantisation of n lines at one gain: xr[i] = pow43[|val[i]|] gain with
    // val[i]'s sign, |val[i]| limited to pow43Max. pow43[0] must be 0.
    void (*requantize)(const int32_t* val, int n, float gain, const float* pow43, int pow43Max, float* xr);
};

namespace mp3kernels {
// Rows of the granule's time signal the dct32 kernel may read: 576 and two more.
constexpr int kTimeFloats = 576 + 4;
constexpr int kDctSlots = 20;
}  // namespace mp3kernels

// The set for path, or the scalar set when the processor cannot run it.
const SMp3Kernels& Mp3Kernels(EVectorPath path);

namespace mp3kernels {
extern const SMp3Kernels kScalar;
#if defined(__SSE2__)
extern const SMp3Kernels kSse2;
// The matrixing runs four slots to a vector on the AVX2 path as well: wider
// lanes would buy little there.
void Sse2Dct32(const float* time, int subbands, float* x);
void Sse2Block(const float* x, float* v);
void Sse2Long36(const float* s, const float* w, float* overlap, float* out);
void Sse2Alias(float* xr, int boundaries, const float* cs, const float* ca);
void Sse2Requantize(const int32_t* val, int n, float gain, const float* pow43, int pow43Max, float* xr);
extern const SMp3Kernels kAvx2;
#endif
}  // namespace mp3kernels
