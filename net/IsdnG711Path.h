#pragma once
// Receive path of G.711 voice on channel 0: bytes in, bytes out, and the
// receive format of the configured law. Call worker's thread only.
#include <cstdint>
#include <vector>

#include "common/Records.h"

class CIsdnG711Path {
public:
    // 1/0; the buffer holds `blocks` B3 blocks of blockLength bytes.
    int Init(int blockLength, int blocks);
    void SetLaw(int law);
    int GetLaw() const { return m_law; }
    int IsFormatChanged() const { return m_formatChanged; }
    // Coding = law, 64000 bit/s, 8000 Hz, mono, one B3 block a frame; clears the flag.
    void GetFormat(AudioFormat* format);
    int Write(const uint8_t* bytes, int n);
    int Read(uint8_t* dst, int n);
    int Available() const { return m_fill; }
    void Clear() { m_fill = 0; }

private:
    int m_law = 2;
    int m_formatChanged = 0;
    int m_blockLength = 0;
    std::vector<uint8_t> m_buffer;
    int m_fill = 0;
};
