#pragma once
// The synthesis matrixing of four subband blocks at once, one block in each
// SSE2 lane: the same halving steps as CSubbandDct's portable path, so each
// block comes out with the same bits, at a quarter of the operations.
#include "codecs/SubbandDct.h"
#include "codecs/simd/VectorPath.h"

class CMp2LaneDct {
public:
    CMp2LaneDct();
    // The 32-point DCT of blocks[0..3] (32 values each, in place).
    void Run4(float (*blocks)[32]) const;
    // The same for blocks[0..7], eight lanes wide, where the processor has
    // AVX2 (else four and four).
    void Run8(float (*blocks)[32]) const;
    bool Wide() const { return m_wide; }

private:
    bool m_wide = false;
    CSubbandDct m_portable;  // where the build has no SSE2
};
