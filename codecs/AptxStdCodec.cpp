#include "codecs/AptxStdCodec.h"

int AptxChannels(const AudioFormat* format) {
    return format ? ChannelsOfDeviceMode(format->deviceMode) : 2;
}

int AptxFrameSize(const AudioFormat* format) {
    if (!format || format->frameBytes <= 0) return 0;
    const int size = (format->frameBytes & ~7) * 4;
    return AptxChannels(format) == 1 ? size : size * 2;
}

CAptxStdCodec::~CAptxStdCodec() {
    AptxStdFree(m_encoder);
    AptxStdFree(m_decoder);
}

int CAptxStdCodec::GetDecodeFrameSize(const AudioFormat* format) { return AptxFrameSize(format); }
int CAptxStdCodec::GetEncodeFrameSize(const AudioFormat* format) { return AptxFrameSize(format); }

void CAptxStdCodec::SetDecodeFormat(const AudioFormat* format) {
    if (!format) return;
    m_decoderChannels = AptxChannels(format);
    m_decoderSyncIndex = format->aptxOption ? 0 : -1;
}

void CAptxStdCodec::SetEncodeFormat(const AudioFormat* format) {
    if (!format) return;
    m_encoderChannels = AptxChannels(format);
    m_encoderSyncIndex = format->aptxOption ? 0 : -1;
}

void CAptxStdCodec::CloseDecoder() {
    AptxStdFree(m_decoder);
    m_decoder = nullptr;
}

int CAptxStdCodec::OpenDecoder() {
    CloseDecoder();
    m_decoder = AptxStdCreate(0, m_decoderSyncIndex, nullptr, m_decoderChannels);
    return m_decoder ? 1 : 0;
}

void CAptxStdCodec::CloseEncoder() {
    AptxStdFree(m_encoder);
    m_encoder = nullptr;
}

int CAptxStdCodec::OpenEncoder() {
    CloseEncoder();
    m_encoder = AptxStdCreate(kAptxStdEncoder, m_encoderSyncIndex, nullptr, m_encoderChannels);
    return m_encoder ? 1 : 0;
}

int CAptxStdCodec::Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) {
    if (consumed) *consumed = 0;
    if (!m_decoder || !coded || !pcm || codedBytes <= 0 || pcmRoom <= 0) return 0;
    const int unit = 8 * m_decoderChannels;  // whole 8-word groups per channel
    int m = codedBytes >> 1;
    if ((pcmRoom >> 3) < m) m = pcmRoom >> 3;
    m -= m % unit;
    if (m == 0) return 0;
    if (consumed) *consumed = 2 * m;
    const int length = 4 * m / m_decoderChannels;
    // While the engine searches for sync (result 1) the words are used up and
    // nothing is played.
    if (AptxStdDecode(m_decoder, length, pcm, coded, nullptr) != 0) return 0;
    return 8 * m;
}

int CAptxStdCodec::Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) {
    if (consumed) *consumed = 0;
    if (!m_encoder || !pcm || !coded || pcmBytes <= 0 || codedRoom <= 0) return 0;
    const int unit = 8 * m_encoderChannels;
    int m = pcmBytes >> 3;
    if ((codedRoom >> 1) < m) m = codedRoom >> 1;
    m -= m % unit;
    if (m == 0) return 0;
    const int length = 4 * m / m_encoderChannels;
    if (AptxStdEncode(m_encoder, length, pcm, coded, nullptr) != 0) return 0;
    if (consumed) *consumed = 8 * m;
    return 2 * m;
}
