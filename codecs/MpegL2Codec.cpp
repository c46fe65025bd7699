#include "codecs/MpegL2Codec.h"

#include <algorithm>
#include <cstring>

#include "common/MpegHeader.h"

namespace {
constexpr int kFrameSamples = 1152;
// Decoder options 1: 16-bit output, no ancillary data. Output format
// 0x0101008D: two channels as left, right; one channel as one; full width;
// reduced-rate streams allowed.
constexpr Mp2DecoderOptions kDecoderOptions = 1;
constexpr Mp2OutputFormat kOutputFormat = 0x0101008D;
}  // namespace

CMpegL2Codec::CMpegL2Codec() { std::memset(m_block, 0, sizeof m_block); }

CMpegL2Codec::~CMpegL2Codec() {
    CloseEncoder();
    CloseDecoder();
}

// Shared rule of the MPEG codecs: one frame of 1152 samples per channel.
int CMpegL2Codec::GetDecodeFrameSize(const AudioFormat* format) {
    if (!format) return 2 * kFrameSamples;
    const int mode = format->deviceMode;
    return (mode == DEVICEMODE_STEREO || mode == DEVICEMODE_JOINT_STEREO || mode == DEVICEMODE_DUAL_MONO) ? 4 * kFrameSamples : 2 * kFrameSamples;
}

int CMpegL2Codec::GetEncodeFrameSize(const AudioFormat* format) { return GetDecodeFrameSize(format); }

void CMpegL2Codec::SetDecodeFormat(const AudioFormat*) {}

int CMpegL2Codec::OpenDecoder() {
    if (m_decoder) CloseDecoder();
    m_pending = nullptr;
    m_pendingLength = 0;
    return Mp2DecoderOpen(kDecoderOptions, kOutputFormat, ReadCallback, this, &m_decoder) == 0 ? 1 : 0;
}

void CMpegL2Codec::CloseDecoder() {
    if (m_decoder) Mp2DecoderClose(&m_decoder);
    m_decoder = nullptr;
    m_pending = nullptr;
    m_pendingLength = 0;
}

int CMpegL2Codec::ReadCallback(uint8_t* dst, int* count, void* user) {
    if (!count) return 1;
    if (!user) {
        *count = 0;
        return 0;
    }
    auto* self = static_cast<CMpegL2Codec*>(user);
    self->m_bytesTaken = 0;
    if (!self->m_decoder || !self->m_pending || !dst) {
        *count = 0;
        return 1;
    }
    const int n = std::min(*count, self->m_pendingLength);
    self->m_bytesTaken = std::max(n, 0);
    if (n <= 0) {
        *count = 0;
        return 1;
    }
    std::memcpy(dst, self->m_pending, static_cast<size_t>(n));
    self->m_pending = nullptr;
    *count = n;
    // Each Decode call's block is all there is for that frame: saying so lets
    // the core conceal a cut frame instead of waiting for bytes that never come.
    return 1;
}

int CMpegL2Codec::Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) {
    if (consumed) *consumed = 0;
    if (!m_decoder || !coded || !pcm || codedBytes <= 0) return 0;
    m_pendingLength = codedBytes;
    m_pending = coded;
    m_bytesTaken = 0;
    Mp2DecoderRestart(m_decoder);
    Mp2HeaderWord header = 0;
    Mp2PcmBlock block{0, 0, m_block};
    Mp2AncillaryData ancillary{0, nullptr};
    const int code = Mp2DecodeFrame(&header, &block, &ancillary, m_decoder);
    m_pending = nullptr;
    // Frames at 44.1 and 22.05 kHz differ by the padding byte, so a block of
    // the longest frame may hold the next frame's first byte: that byte stays
    // with the caller instead of being thrown away with this frame.
    int taken = m_bytesTaken;
    const int frameEnd = Mp2DecoderFrameEndBytes(m_decoder);
    if (code == 0 && frameEnd > 0 && frameEnd < taken) taken = frameEnd;
    if (consumed) *consumed = code == 0 ? taken : codedBytes;
    // A concealed frame (repeat or silence) is output like a decoded one.
    if (code != 0 && !Mp2IsConcealed(code)) return 0;
    const int bytes = block.channels * block.samplesPerChannel * 2;
    if (bytes <= 0) return 0;
    if (bytes > pcmRoom) {
        ++m_refusedDecodes;
        return 0;
    }
    std::memcpy(pcm, m_block, static_cast<size_t>(bytes));
    return bytes;
}

int CMpegL2Codec::MakeHeader(Mp2HeaderWord* word) const {
    if (!word) return 0;
    Mp2HeaderWord w = *word;
    w &= ~((1u << 5) | (1u << 9) | (1u << 12) | (0x3Fu << 16) | (1u << 23));
    w |= (1u << 6) | (1u << 8) | (1u << 22);
    *word = w;
    // Layer II knows MPEG-1 and MPEG-2 rates only; the lower rates go
    // without a CRC, and only 44.1 and 22.05 kHz streams pad.
    int version = 0, sf = 0;
    if (!MpegVersionOfSampleRate(m_sampleRate, &version, &sf) || version == 25) return 0;
    const int id = version == 1 ? 1 : 0;
    const int protection = 1 - id;
    const int padding = sf == 0 ? 1 : 0;
    w &= ~((1u << 4) | (1u << 7) | (1u << 13) | (3u << 14));
    w |= (static_cast<uint32_t>(protection) << 4) | (static_cast<uint32_t>(id) << 7) |
         (static_cast<uint32_t>(padding) << 13) | (static_cast<uint32_t>(sf) << 14);
    *word = w;
    int mode;
    switch (m_deviceMode) {
        case DEVICEMODE_MONO: mode = 3; break;
        case DEVICEMODE_STEREO: mode = 0; break;
        case DEVICEMODE_JOINT_STEREO: mode = 1; break;
        case DEVICEMODE_DUAL_MONO: mode = 2; break;
        default: return 0;
    }
    w = (w & ~(3u << 10)) | (static_cast<uint32_t>(mode) << 10);
    *word = w;
    const int index = MpegBitRateIndex(version, 2, m_bitRate / 1000);
    if (index == 0) return 0;
    *word = (w & ~15u) | static_cast<uint32_t>(index);
    return 1;
}

void CMpegL2Codec::SetEncodeFormat(const AudioFormat* format) {
    if (!format) return;
    m_bitRate = format->bitRate;
    m_sampleRate = format->sampleRate;
    m_deviceMode = format->deviceMode;
    if (m_encoder) {
        // The running encoder reads the word at its next frame: change it only
        // to a word that is whole.
        Mp2HeaderWord w = m_header;
        if (MakeHeader(&w)) m_header = w;
    }
}

int CMpegL2Codec::OpenEncoder() {
    if (m_encoder) CloseEncoder();
    m_outputBuffer = nullptr;
    if (!MakeHeader(&m_header)) return 0;
    m_descriptor = Mp2InputDescriptor{1, 0, 1, 0, static_cast<uint8_t>(m_deviceMode == DEVICEMODE_MONO ? 0x40 : 0x86), 0, 0, 0};
    int samplesPerFrame = 0;
    return Mp2EncoderOpen(WriteCallback, this, &m_header, &m_descriptor, &samplesPerFrame, m_modelSelector,
                          &m_encoder) == 0
               ? 1
               : 0;
}

void CMpegL2Codec::CloseEncoder() {
    if (m_encoder) Mp2EncoderClose(&m_encoder);
    m_encoder = nullptr;
    m_delivered = 0;
    m_outputBuffer = nullptr;
}

int CMpegL2Codec::WriteCallback(const uint8_t* frame, int* length, void* user) {
    if (!length) return 0;
    if (!user) {
        *length = 0;
        return 0;
    }
    auto* self = static_cast<CMpegL2Codec*>(user);
    self->m_delivered = 0;
    if (!self->m_encoder || !self->m_outputBuffer || !frame) {
        *length = 0;
        return 0;
    }
    // A frame that does not fit is refused whole: a cut frame would be
    // taken for a good one by every reader downstream.
    if (*length > self->m_outputRoom || *length <= 0) {
        self->m_outputTooSmall = true;
        *length = 0;
        return 0;
    }
    std::memcpy(self->m_outputBuffer, frame, static_cast<size_t>(*length));
    self->m_delivered = *length;
    self->m_outputBuffer = nullptr;
    return 0;
}

int CMpegL2Codec::Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) {
    if (consumed) *consumed = 0;
    if (!m_encoder || !pcm || pcmBytes <= 0 || !coded || codedRoom <= 0) return 0;
    const int channels = m_deviceMode == DEVICEMODE_MONO ? 1 : 2;
    if (pcmBytes < channels * 2 * kFrameSamples) return 0;
    // Room for the longest frame this header can give, or nothing is encoded
    // and the engine offers the same PCM again. The word's padding bit says
    // whether the rate pads at all: at 48, 32, 24 and 16 kHz no frame is longer
    // than the call's frame bytes.
    const int longest = mp2::FrameBytes(m_header);
    if (longest <= 0 || codedRoom < longest) {
        ++m_refusedEncodes;
        return 0;
    }
    m_delivered = 0;
    m_outputRoom = codedRoom;
    m_outputBuffer = coded;
    m_outputTooSmall = false;
    const Mp2FrameControl control{&m_header, &m_descriptor};
    Mp2PcmBlock block{channels, kFrameSamples, const_cast<int16_t*>(pcm)};
    uint8_t zero = 0;
    Mp2AncillaryData ancillary{1, &zero};
    const int code = Mp2EncodeFrame(&control, &block, &ancillary, m_encoder);
    m_outputBuffer = nullptr;
    if (code == 0 || code == -3301 || code == -3302) {
        if (consumed) *consumed = channels * 2 * kFrameSamples;
    }
    if (m_outputTooSmall) {
        ++m_refusedEncodes;
        return 0;
    }
    // The last byte of a frame is read downstream as the count of bytes that
    // follow it: this class always sends 0 there.
    if (m_delivered >= 2) {
        coded[m_delivered - 1] = 0;
        coded[m_delivered - 2] = 0;
    }
    return m_delivered;
}
