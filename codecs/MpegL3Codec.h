#pragma once
// CCodec for coding type 64, MPEG audio Layer III: the encoder side drives the
// encoder front end, the decoder side the Layer III decoder's handle
// interface. One object per user; called from one thread at a time.
#include <cstdint>

#include "codecs/mp3dec/Mp3Decoder.h"
#include "common/Codec.h"
#include "mp3enc/Mp3Encoder.h"

class CMpegL3Codec final : public CCodec {
public:
    CMpegL3Codec() = default;
    ~CMpegL3Codec();
    CMpegL3Codec(const CMpegL3Codec&) = delete;
    CMpegL3Codec& operator=(const CMpegL3Codec&) = delete;

    int GetDecodeFrameSize(const AudioFormat* format) override;
    int GetEncodeFrameSize(const AudioFormat* format) override;
    void SetDecodeFormat(const AudioFormat* format) override;
    // Decodes every whole frame the decoder holds, as far as the room takes
    // it; PCM that does not fit waits in the class for the next call.
    int Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) override;
    void CloseDecoder() override;
    int OpenDecoder() override;
    // File mode: input is fed in parts, as much as the decoder takes.
    int OpenFileDecoder();
    // File mode: no more input will come, so the last frame held is decoded
    // without waiting for the header of a next one.
    void SetEndOfInput();
    void SetEncodeFormat(const AudioFormat* format) override;
    // Coded bytes, 0 while a frame is incomplete, -1 when the encoder failed
    // or none is open after a failed open.
    int Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) override;
    void CloseEncoder() override;
    int OpenEncoder() override;

    int GetEncoderFailures() const { return m_encoderFailures; }
    int GetDecoderErrors() const { return m_decoderErrors; }
    const Mp3Encoder* GetEncoder() const { return m_encoder; }

private:
    int DeliverPending(int16_t* pcm, int room);

    int m_quality = 0;
    int m_bitRate = 0;
    int m_sampleRate = 0;
    int m_deviceMode = 0;
    int m_fileMode = 0;
    bool m_encoderWanted = false;  // an open was asked for and has not been closed
    Mp3DecoderHandle m_decoder = nullptr;
    uint32_t m_decoderCapacity = 0;
    Mp3Encoder* m_encoder = nullptr;
    int m_encoderFailures = 0;
    int m_decoderErrors = 0;
    // One frame of PCM (1152 stereo samples), decoded here and handed out as the room allows.
    int16_t m_frame[2 * 1152] = {};
    int m_pendingOffset = 0;
    int m_pendingBytes = 0;
};
