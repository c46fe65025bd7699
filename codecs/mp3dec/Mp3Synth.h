// Polyphase synthesis of the Layer III filter bank and the conversion to the
// output sample format. Owned by the frame decoder.
#pragma once

#include <cstdint>

#include "codecs/mp3dec/Mp3Kernels.h"

class CMp3Synth {
public:
    CMp3Synth();
    void SetOptions(int rateShift, int eightBit) {
        m_rateShift = rateShift;
        m_eightBit = eightBit;
    }
    // time: per output channel 32 subbands of 18 slots, subband s slot t at
    // 18s + t, mp3kernels::kTimeFloats readable. Writes one granule,
    // interleaved; returns the byte pointer after it.
    uint8_t* Synthesise(const float* const* time, int channels, uint8_t* out, bool asFloat);
    void Clear();

private:
    const SMp3Kernels* m_kernels;
    int m_rateShift = 0;
    int m_eightBit = 0;
    // Matrixed values, 16 blocks of 64 per channel, newest at m_offset; each
    // block is stored twice (at p and p + 1024) so the window reads straight through.
    float m_v[2][2048] = {};
    int m_offset = 0;
    float m_window[512];
};
