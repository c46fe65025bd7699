#pragma once
// Picks one of a codec's kernel sets by vector path: the set for the path when
// this build has it and the processor runs it, else the scalar set.
#include "codecs/simd/VectorPath.h"

template <class Set>
const Set& KernelSetFor(EVectorPath path, const Set& scalar, const Set* sse2, const Set* avx2) {
    if (!VectorPathSupported(path)) return scalar;
    if (path == EVectorPath::Avx2 && avx2) return *avx2;
    if (path == EVectorPath::Sse2 && sse2) return *sse2;
    return scalar;
}
