#include "codecs/simd/VectorPath.h"

bool VectorPathSupported(EVectorPath path) {
    switch (path) {
    case EVectorPath::Scalar:
        return true;
#if defined(__x86_64__) || defined(__i386__)
    case EVectorPath::Sse2:
        return __builtin_cpu_supports("sse2");
    case EVectorPath::Avx2:
        return __builtin_cpu_supports("avx2");
#else
    case EVectorPath::Sse2:
    case EVectorPath::Avx2:
        return false;
#endif
    }
    return false;
}

EVectorPath BestVectorPath() {
    static const EVectorPath best = VectorPathSupported(EVectorPath::Avx2)   ? EVectorPath::Avx2
                                    : VectorPathSupported(EVectorPath::Sse2) ? EVectorPath::Sse2
                                                                             : EVectorPath::Scalar;
    return best;
}

const char* VectorPathName(EVectorPath path) {
    switch (path) {
    case EVectorPath::Scalar:
        return "scalar";
    case EVectorPath::Sse2:
        return "SSE2";
    case EVectorPath::Avx2:
        return "AVX2";
    }
    return "?";
}
