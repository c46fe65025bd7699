#pragma once
// G.711 A-law (coding type 2) and mu-law (coding type 4): one law-coded byte
// per 16-bit sample at 8000 Hz, one channel. Each direction picks its law from
// the coding type of its own format. The laws are memoryless, so open and
// close change nothing. Called from the call engine's worker thread only.
#include <cstdint>

#include "common/Codec.h"

class CG711Codec final : public CCodec {
public:
    // PCM bytes of one frame: twice the ISDN B3 block length. Without an ISDN
    // transport (TCP, multicast, or no shared state) the default block of
    // kDefaultBlockLength gives the same 24 ms timing as on ISDN.
    int GetDecodeFrameSize(const AudioFormat* format) override;
    int GetEncodeFrameSize(const AudioFormat* format) override;
    void SetDecodeFormat(const AudioFormat* format) override;
    int Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) override;
    void CloseDecoder() override {}
    int OpenDecoder() override { return 1; }
    void SetEncodeFormat(const AudioFormat* format) override;
    int Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) override;
    void CloseEncoder() override {}
    int OpenEncoder() override { return 1; }

    int GetDecodeLaw() const { return m_decodeLaw; }
    int GetEncodeLaw() const { return m_encodeLaw; }

    static constexpr int kDefaultBlockLength = 192;

    // The two laws sample by sample; exposed for the tests and the benchmarks.
    static uint8_t LinearToALaw(int16_t x);
    static uint8_t LinearToMuLaw(int16_t x);
    static int16_t ALawToLinear(uint8_t code);
    static int16_t MuLawToLinear(uint8_t code);

private:
    int32_t m_decodeLaw = 0;  // 2 = A-law, anything else mu-law
    int32_t m_encodeLaw = 0;
};
