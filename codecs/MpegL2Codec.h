#pragma once
// CCodec for coding type 32, MPEG audio Layer II: adapts the engine's push
// calls to the decoder core's read callback and the encoder core's write
// callback. One object per user; called from one thread at a time.
#include <cstdint>

#include "codecs/mpeg2/Mp2Decoder.h"
#include "codecs/mpeg2/Mp2Encoder.h"
#include "common/Codec.h"

class CMpegL2Codec final : public CCodec {
public:
    CMpegL2Codec();
    ~CMpegL2Codec();
    CMpegL2Codec(const CMpegL2Codec&) = delete;
    CMpegL2Codec& operator=(const CMpegL2Codec&) = delete;

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

    // The [Audio] Mp2Processing setting: 1 runs psychoacoustic model 1, any
    // other value the fixed model. Takes effect at the next OpenEncoder.
    void SetProcessing(int mp2Processing) { m_modelSelector = mp2Processing == 1 ? 0 : 1; }
    // Builds the stream header from the kept send format: 1, or 0 for a
    // rate, mode or bit rate Layer II cannot carry.
    int MakeHeader(Mp2HeaderWord* word) const;

    // Frames whose PCM did not fit the room offered to Decode, and encoder
    // calls whose room was below one frame: both are refused, never cut.
    int GetRefusedDecodes() const { return m_refusedDecodes; }
    int GetRefusedEncodes() const { return m_refusedEncodes; }
    const Mp2HeaderWord& GetHeaderWord() const { return m_header; }

private:
    static int ReadCallback(uint8_t* dst, int* count, void* user);
    static int WriteCallback(const uint8_t* frame, int* length, void* user);

    int m_modelSelector = 0;
    int m_bitRate = 0;
    int m_sampleRate = 0;
    int m_deviceMode = 0;
    int m_pendingLength = 0;
    int m_bytesTaken = 0;
    const uint8_t* m_pending = nullptr;
    int m_outputRoom = 0;
    int m_delivered = 0;
    uint8_t* m_outputBuffer = nullptr;
    bool m_outputTooSmall = false;
    Mp2Decoder* m_decoder = nullptr;
    Mp2Encoder* m_encoder = nullptr;
    Mp2HeaderWord m_header = 0;
    Mp2InputDescriptor m_descriptor{};
    int m_refusedDecodes = 0;
    int m_refusedEncodes = 0;
    // A frame is decoded here first, at the largest size a frame can have,
    // and copied out only when it fits the caller's room.
    int16_t m_block[2 * kMp2MaxSamplesPerChannel];
};
