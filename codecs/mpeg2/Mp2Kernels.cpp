#include "codecs/mpeg2/Mp2Kernels.h"

const SMp2Kernels& Mp2Kernels(EVectorPath path) {
    if (!VectorPathSupported(path)) return mp2kernels::kScalar;
    switch (path) {
    case EVectorPath::Scalar:
        break;
    case EVectorPath::Sse2:
#if defined(__SSE2__)
        return mp2kernels::kSse2;
#else
        break;
#endif
    case EVectorPath::Avx2:
#if defined(__x86_64__) || defined(__i386__)
        return mp2kernels::kAvx2;
#else
        break;
#endif
    }
    return mp2kernels::kScalar;
}
