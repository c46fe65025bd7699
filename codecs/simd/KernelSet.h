#pragma once
// Picks one of a codec's kernel sets by vector path: the set for the path when
// this build has it and the processor runs it, else the scalar set.
#include "codecs/simd/VectorPath.h"

#if defined(__x86_64__) || defined(__i386__)
// A function compiled for AVX2 alone, so the rest of the build stays portable;
// called only after the processor has reported AVX2. FMA stays off: a fused
// multiply-add rounds once where the other paths round twice.
#define VELMORA_AVX2 __attribute__((target("avx2")))
#endif

template <class Set>
const Set& KernelSetFor(EVectorPath path, const Set& scalar, const Set* sse2, const Set* avx2) {
    if (!VectorPathSupported(path)) return scalar;
    if (path == EVectorPath::Avx2 && avx2) return *avx2;
    if (path == EVectorPath::Sse2 && sse2) return *sse2;
    return scalar;
}
