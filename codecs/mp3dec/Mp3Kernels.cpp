#include "codecs/mp3dec/Mp3Kernels.h"

const SMp3Kernels& Mp3Kernels(EVectorPath path) {
    if (!VectorPathSupported(path)) return mp3kernels::kScalar;
    switch (path) {
    case EVectorPath::Scalar:
        break;
    case EVectorPath::Sse2:
#if defined(__SSE2__)
        return mp3kernels::kSse2;
#else
        break;
#endif
    case EVectorPath::Avx2:
#if defined(__SSE2__)
        return mp3kernels::kAvx2;
#else
        break;
#endif
    }
    return mp3kernels::kScalar;
}
