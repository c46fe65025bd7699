#include "codecs/mpeg2/Mp2Kernels.h"

#include "codecs/simd/KernelSet.h"

const SMp2Kernels& Mp2Kernels(EVectorPath path) {
#if defined(__SSE2__)
    const SMp2Kernels* sse2 = &mp2kernels::kSse2;
#else
    const SMp2Kernels* sse2 = nullptr;
#endif
#if defined(__x86_64__) || defined(__i386__)
    const SMp2Kernels* avx2 = &mp2kernels::kAvx2;
#else
    const SMp2Kernels* avx2 = nullptr;
#endif
    return KernelSetFor(path, mp2kernels::kScalar, sse2, avx2);
}
