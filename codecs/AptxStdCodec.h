#pragma once
// Standard apt-X (coding type 256) behind the codec interface: 16-bit PCM at
// 4:1, one 16-bit code word per 4 samples of a channel, the engine's sync
// pattern 0 when the format's apt-X option is set. Called from the call
// engine's worker thread only.
#include "codecs/aptx/AptxStdEngine.h"
#include "common/Codec.h"

class CAptxStdCodec final : public CCodec {
public:
    CAptxStdCodec() = default;
    ~CAptxStdCodec();
    CAptxStdCodec(const CAptxStdCodec&) = delete;
    CAptxStdCodec& operator=(const CAptxStdCodec&) = delete;

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

private:
    AptxStdEngine* m_encoder = nullptr;
    int32_t m_encoderSyncIndex = 0;
    int32_t m_encoderChannels = 1;
    AptxStdEngine* m_decoder = nullptr;
    int32_t m_decoderSyncIndex = 0;
    int32_t m_decoderChannels = 1;
};

// Shared by both apt-X classes: (frameBytes AND NOT 7) x 4, doubled for stereo modes.
int AptxFrameSize(const AudioFormat* format);
// 1 for device modes 10 and 11, else 2.
int AptxChannels(const AudioFormat* format);
