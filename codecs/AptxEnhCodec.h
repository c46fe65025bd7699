#pragma once
// Enhanced apt-X (coding type 272, 16-bit) behind the codec interface. On the
// connection each 16-bit code word travels least significant byte first, one
// word per channel per step of 4 sample periods. Called from the call engine's
// worker thread only.
#include "codecs/aptx/AptxEnhEngine.h"
#include "common/Codec.h"

class CAptxEnhCodec final : public CCodec {
public:
    CAptxEnhCodec() = default;
    ~CAptxEnhCodec();
    CAptxEnhCodec(const CAptxEnhCodec&) = delete;
    CAptxEnhCodec& operator=(const CAptxEnhCodec&) = delete;

    int GetDecodeFrameSize(const AudioFormat* format) override;
    int GetEncodeFrameSize(const AudioFormat* format) override;
    void SetDecodeFormat(const AudioFormat* format) override;
    int Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) override;
    void CloseDecoder() override;
    int OpenDecoder() override;
    void SetEncodeFormat(const AudioFormat* format) override;
    int Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) override;
    void CloseEncoder() override;
    int OpenEncoder() override;

    bool IsDecoderSynced() const { return AptxEnhIsSynced(m_decoder) == 1; }
    int GetRealignments() const { return m_counters[1]; }


private:
    // [0]: a byte still to drop at the start of the next block; [1]: bytes
    // dropped to realign the word pairing.
    int32_t m_counters[2] = {0, 0};
    AptxEnhDecoder* m_decoder = nullptr;
    int32_t m_decoderStepBytes = 2;
    int32_t m_decoderFormat = 0x100001;
    int32_t m_decoderOptionWord = 0;
    uint8_t m_decoderUser[kAptxEnhUserBlockBytes] = {};
    AptxEnhEncoder* m_encoder = nullptr;
    int32_t m_encoderStepBytes = 2;
    int32_t m_encoderFormat = 0x100001;
    int32_t m_encoderOptionWord = 0;
    uint8_t m_encoderUser[kAptxEnhUserBlockBytes] = {};
};
