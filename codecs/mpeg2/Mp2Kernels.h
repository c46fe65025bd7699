#pragma once
// The inner loops of the Layer II cores, one set per instruction set. Every
// set gives the scalar set's bits.
#include <cstdint>

#include "codecs/simd/VectorPath.h"

struct SMp2Kernels {
    // n samples of one channel (right null) or two, limited to 16 bits and
    // rounded half to even whatever the rounding mode (NaN gives 0), written
    // interleaved.
    void (*pcm16)(const float* left, const float* right, int16_t* out, int n);
    // Analysis window: y[i] = sum over j = 0 .. 7 of c[64j + i] h[64j + i]; i < 64.
    void (*analysisWindow)(const float* c, const float* h, float* y);
    // Analysis matrix, m[16n + k] = cos((2k + 1) n pi / 64): with e[k] and o[k]
    // the sums of a[n] m[16n + k] over even and odd n in rising order,
    // out[k] = e[k] + o[k] and out[31 - k] = e[k] - o[k]; k < 16.
    void (*analysisMatrix)(const float* a, const float* m, float* out);
};

// The set for path, or the scalar set when the processor cannot run it.
const SMp2Kernels& Mp2Kernels(EVectorPath path);

// One sample as pcm16 converts it.
inline int16_t Mp2RoundClip16(float x) {
    if (!(x == x)) x = 0.0f;
    x = x > 32767.0f ? 32767.0f : (x < -32768.0f ? -32768.0f : x);
    int t = static_cast<int>(x);
    const float f = x - static_cast<float>(t);  // exact below 2^24
    if (f > 0.5f || (f == 0.5f && (t & 1))) ++t;
    else if (f < -0.5f || (f == -0.5f && (t & 1))) --t;
    return static_cast<int16_t>(t);
}

namespace mp2kernels {
extern const SMp2Kernels kScalar;
#if defined(__SSE2__)
extern const SMp2Kernels kSse2;
#endif
#if defined(__x86_64__) || defined(__i386__)
extern const SMp2Kernels kAvx2;
#endif
}  // namespace mp2kernels
