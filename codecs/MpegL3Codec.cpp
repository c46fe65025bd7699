#include "codecs/MpegL3Codec.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kFrameSamples = 1152;

bool Succeeded(Mp3Status s) {
    const uint32_t top = s & 0xC0000000u;
    return top == 0 || top == 0x40000000u;
}
}  // namespace

CMpegL3Codec::~CMpegL3Codec() {
    CloseEncoder();
    CloseDecoder();
}

// Shared rule of the MPEG codecs: one frame of 1152 samples per channel.
int CMpegL3Codec::GetDecodeFrameSize(const AudioFormat* format) {
    if (!format) return 2 * kFrameSamples;
    const int mode = format->deviceMode;
    return (mode == 20 || mode == 21 || mode == 22) ? 4 * kFrameSamples : 2 * kFrameSamples;
}

int CMpegL3Codec::GetEncodeFrameSize(const AudioFormat* format) { return GetDecodeFrameSize(format); }

void CMpegL3Codec::SetDecodeFormat(const AudioFormat*) {}

int CMpegL3Codec::OpenDecoder() {
    if (m_decoder) CloseDecoder();
    m_fileMode = 0;
    m_pendingBytes = m_pendingOffset = 0;
    if (!Succeeded(Mp3DecoderCreate(&m_decoder, 0, 0, 0)) || !m_decoder) {
        m_decoder = nullptr;
        return 0;
    }
    m_decoderCapacity = 0;
    if (!Succeeded(Mp3DecoderGetFreeSpace(m_decoder, &m_decoderCapacity))) m_decoderCapacity = 0;
    return 1;
}

void CMpegL3Codec::SetEndOfInput() {
    if (m_decoder) m_decoder->object->SetEndOfStream();
}

int CMpegL3Codec::OpenFileDecoder() {
    if (OpenDecoder() != 1) return 0;
    m_fileMode = 1;
    return 1;
}

void CMpegL3Codec::CloseDecoder() {
    if (m_decoder) Mp3DecoderDestroy(m_decoder);
    m_decoder = nullptr;
    m_pendingBytes = m_pendingOffset = 0;
}

int CMpegL3Codec::DeliverPending(int16_t* pcm, int room) {
    int n = std::min(m_pendingBytes, room);
    n -= n % 4;  // whole stereo sample frames (and so whole mono pairs)
    if (n <= 0) return 0;
    std::memcpy(pcm, reinterpret_cast<const uint8_t*>(m_frame) + m_pendingOffset, static_cast<size_t>(n));
    m_pendingOffset += n;
    m_pendingBytes -= n;
    return n;
}

int CMpegL3Codec::Decode(const uint8_t* in, int inLength, int* consumed, int16_t* out, int room) {
    if (consumed) *consumed = 0;
    if (!m_decoder || !in || !out || room <= 0) return 0;
    int produced = DeliverPending(out, room);
    uint32_t freeSpace = 0;
    if (!Succeeded(Mp3DecoderGetFreeSpace(m_decoder, &freeSpace))) return produced;
    if (inLength > 0) {
        uint32_t taken = 0;
        const uint32_t length = static_cast<uint32_t>(inLength);
        // A block larger than the whole ring could never be fed whole: it goes in parts, as in file mode.
        const bool inParts = m_fileMode || (m_decoderCapacity > 0 && length > m_decoderCapacity);
        if (inParts) {
            if (freeSpace > 0 && !Succeeded(Mp3DecoderFeed(m_decoder, in, std::min(freeSpace, length), &taken)))
                return produced;
        } else if (freeSpace >= length) {
            if (!Succeeded(Mp3DecoderFeed(m_decoder, in, length, &taken))) return produced;
        }
        if (consumed) *consumed = static_cast<int>(taken);
    }
    // Every whole frame held is decoded now, so the decoder's delay never creeps.
    while (m_pendingBytes == 0 && produced < room) {
        uint32_t got = 0;
        const Mp3Status s = Mp3DecoderDecode(m_decoder, m_frame, sizeof m_frame, &got, nullptr, nullptr);
        if (!Succeeded(s) || got == 0) {
            if ((s & 0xC0000000u) == 0xC0000000u) ++m_decoderErrors;
            break;
        }
        m_pendingOffset = 0;
        m_pendingBytes = static_cast<int>(got);
        produced += DeliverPending(reinterpret_cast<int16_t*>(reinterpret_cast<uint8_t*>(out) + produced),
                                   room - produced);
    }
    return produced;
}

void CMpegL3Codec::SetEncodeFormat(const AudioFormat* format) {
    if (!format) return;
    m_bitRate = format->bitRate;
    m_sampleRate = format->sampleRate;
    m_deviceMode = format->deviceMode;
    if (m_encoder) OpenEncoder();
}

int CMpegL3Codec::OpenEncoder() {
    if (m_encoder) CloseEncoder();
    m_encoderWanted = true;
    const int channels = m_deviceMode == 10 ? 1 : 2;
    m_encoder = Mp3EncoderCreate(m_sampleRate, channels, m_quality);
    if (!m_encoder) return 0;
    const Mp3EncoderFormat format{static_cast<uint32_t>(m_sampleRate), static_cast<uint32_t>(channels),
                                  static_cast<uint32_t>(m_bitRate)};
    Mp3EncoderConfig* config = nullptr;
    // A refused format or configuration leaves no encoder running at other settings.
    if (Mp3EncoderSetFormat(m_encoder, &format) == 0 || (config = Mp3EncoderGetConfig(m_encoder)) == nullptr) {
        CloseEncoder();
        m_encoderWanted = true;
        return 0;
    }
    const int joint = m_deviceMode == 21 ? 1 : 0;
    config->paddingMode = 1;
    config->monoFallback = 1;
    config->crc = 0;
    config->intensityAllowed = joint;
    config->jointStereo = joint;
    if (Mp3EncoderSetConfig(m_encoder, config) == 0) {
        CloseEncoder();
        m_encoderWanted = true;
        return 0;
    }
    return 1;
}

void CMpegL3Codec::CloseEncoder() {
    if (m_encoder) Mp3EncoderDestroy(m_encoder);
    m_encoder = nullptr;
    m_encoderWanted = false;
}

int CMpegL3Codec::Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) {
    if (consumed) *consumed = 0;
    if (!m_encoder) {
        if (!m_encoderWanted) return 0;
        ++m_encoderFailures;
        return -1;
    }
    if (!pcm || pcmBytes <= 0 || !coded || codedRoom <= 0) return 0;
    // The front end takes one granule per call; the engine's worker offers
    // what a pass of up to 24 ms captured, so the class takes all of it.
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm);
    int taken = 0, written = 0;
    while (taken < pcmBytes) {
        int used = 0;
        const int n = Mp3EncoderEncode(m_encoder, bytes + taken, pcmBytes - taken, &used, coded + written,
                                       codedRoom - written, nullptr, nullptr);
        taken += used;  // a call that ran out of room still keeps what it took
        if (n < 0) {
            if (written == 0) {
                ++m_encoderFailures;
                if (consumed) *consumed = taken;
                return -1;
            }
            break;
        }
        written += n;
        if (used == 0) break;
    }
    if (consumed) *consumed = taken;
    return written;
}
