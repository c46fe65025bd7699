#include "codecs/g722/G722Codec.h"

#include <cstring>

CG722Codec::CG722Codec() {
    g722::Reset(m_encoder);
    g722::Reset(m_decoder);
}

int CG722Codec::GetDecodeFrameSize(const AudioFormat* format) {
    if (!format || format->frameBytes <= 0 || format->frameBytes > 0x1FFFFFFF) return 0;
    return format->frameBytes * 4;
}

int CG722Codec::GetEncodeFrameSize(const AudioFormat* format) { return GetDecodeFrameSize(format); }

int CG722Codec::OpenDecoder() {
    m_muteCount = kMuteBytes;
    return 1;
}

int CG722Codec::Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) {
    if (!coded || !pcm || !consumed) return 0;
    *consumed = 0;
    int n = pcmRoom / 4;
    if (codedBytes < n) n = codedBytes;
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) g722::DecodeByte(m_decoder, coded[i], &pcm[2 * i], &pcm[2 * i + 1]);
    *consumed = n;
    if (m_muteCount > 0) {
        // The state has still followed the muted bytes: no transient when the mute ends.
        m_muteCount -= n;
        std::memset(pcm, 0, static_cast<size_t>(n) * 4);
    }
    return 4 * n;
}

int CG722Codec::Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) {
    if (!pcm || !coded || !consumed) return 0;
    *consumed = 0;
    // 64-bit: four times a large room must not wrap.
    int n = codedRoom;
    if (4 * static_cast<int64_t>(codedRoom) >= pcmBytes) n = pcmBytes / 4;
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) coded[i] = g722::EncodePair(m_encoder, pcm[2 * i], pcm[2 * i + 1]);
    *consumed = 4 * n;
    return n;
}
