#include "codecs/mpeg2/Mp2Kernels.h"

const SMp2Kernels& Mp2Kernels(EVectorPath path) {
    if (!VectorPathSupported(path)) return mp2kernels::kScalar;
#if defined(__SSE2__)
    // No AVX2 set yet: what runs on AVX2 is the SSE2 set.
    if (path == EVectorPath::Sse2 || path == EVectorPath::Avx2) return mp2kernels::kSse2;
#endif
    return mp2kernels::kScalar;
}
