#pragma once
// The instruction sets our filter-bank kernels come in. SSE2 is part of every
// x86-64 processor; AVX2 is taken only where the processor reports it, so one
// build runs everywhere. Other architectures have the scalar path alone.
enum class EVectorPath { Scalar, Sse2, Avx2 };

// True when this build holds the path and this processor can run it.
bool VectorPathSupported(EVectorPath path);
// The widest supported path; asked once per codec object, not per frame.
EVectorPath BestVectorPath();
const char* VectorPathName(EVectorPath path);
