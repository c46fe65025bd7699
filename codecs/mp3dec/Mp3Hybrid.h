// Hybrid filter of the Layer III filter bank: IMDCT, windowing, overlap-add and
// frequency inversion per subband. Owned by the frame decoder.
#pragma once

#include <cstdint>

#include "codecs/mp3dec/Mp3Kernels.h"

struct Mp3GranuleChannel;

class CMp3Hybrid {
public:
    CMp3Hybrid();
    void SetRateShift(int rateShift) { m_rateShift = rateShift; }
    // Transforms spectrum (576 lines, in place use allowed) into out[32 subbands][18].
    // longSubbandsOfMixed: 2, or 4 for MPEG-2.5 at 8000 Hz.
    void Run(int ch, const Mp3GranuleChannel& gc, int nonzeroSubbands, int longSubbandsOfMixed, const float* spectrum,
             float* out);
    void Clear();

private:
    void Long36(const float* in, int blockType, float* overlap, float* out) const;
    void Short12(const float* in, float* overlap, float* out) const;

    const SMp3Kernels* m_kernels;
    int m_rateShift = 0;
    float m_overlap[2][576] = {};
    float m_cos36[18][20];   // [k][c]: output i = c for c < 9, i = 9 + c for c < 18, zero beyond
    float m_cos12[6][12];
    float m_window[4][36];
    float m_windowShort[12];
};
