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
}  // namespace mp2kernels
