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
};

// The set for path, or the scalar set when the processor cannot run it.
const SMp3Kernels& Mp3Kernels(EVectorPath path);

namespace mp3kernels {
extern const SMp3Kernels kScalar;
#if defined(__SSE2__)
extern const SMp3Kernels kSse2;
#endif
#if defined(__x86_64__) || defined(__i386__)
extern const SMp3Kernels kAvx2;
#endif
}  // namespace mp3kernels
