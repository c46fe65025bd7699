#pragma once
// G.722 at 64 kbit/s (coding type 8): 16-bit PCM at 16000 Hz, one channel,
// one code byte per two samples. The encoder and decoder states live as long
// as the object: a new call continues from where the last one left them, and
// opening the decoder only arms the start-up mute. Called from the call
// engine's worker thread only.
#include <cstdint>

#include "codecs/g722/G722Core.h"
#include "common/Codec.h"

class CG722Codec final : public CCodec {
public:
    CG722Codec();

    // PCM bytes of one frame: the format's coded frame bytes times 4.
    int GetDecodeFrameSize(const AudioFormat* format) override;
    int GetEncodeFrameSize(const AudioFormat* format) override;
    void SetDecodeFormat(const AudioFormat*) override {}
    int Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) override;
    void CloseDecoder() override {}
    // Arms the mute: the next kMuteBytes code bytes decode to silence.
    int OpenDecoder() override;
    void SetEncodeFormat(const AudioFormat*) override {}
    int Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) override;
    void CloseEncoder() override {}
    int OpenEncoder() override { return 1; }

    // 3.2 s at 16000 Hz: hides the peer's encoder settling after a call starts.
    static constexpr int32_t kMuteBytes = 25600;
    int32_t GetMuteCount() const { return m_muteCount; }

private:
    int32_t m_muteCount = 0;
    g722::EncoderState m_encoder;
    g722::DecoderState m_decoder;
};
