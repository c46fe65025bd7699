// Substitute spectra for granules whose frame failed its CRC or whose main data
// is missing, shaped like the last good long-block granules of the channel.
#pragma once

#include <cstdint>

#include "codecs/mp3dec/Mp3FrameDecoder.h"

class CMp3Concealer {
public:
    CMp3Concealer() { Reset(); }
    void Reset();
    // Stores a good granule (conceal false) or replaces spectrum and side information.
    // sfbLong: the stream's 23 long band boundaries.
    void ConcealOrStore(bool conceal, const int16_t* sfbLong, Mp3GranuleChannel& gc, float* spectrum, int ch);

private:
    float Uniform();
    bool RandomSignPositive();

    struct Slot {
        Mp3GranuleChannel side;
        float spectrum[576];
    };
    struct Channel {
        int ringIndex;
        Slot slots[4];
        float average[576];
        float energy[22];
        bool valid;
    };
    Channel m_ch[2];

    // Subtractive generator (Knuth), modulus 10^9.
    int32_t m_ma[56];
    int m_inext = 0;
    int m_inextp = 0;
    bool m_initialised = false;
    int32_t m_seed = 42;
    uint32_t m_signRegister = 1044180u;
};
