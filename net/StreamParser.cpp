#include "net/StreamParser.h"

#include <cstring>

#include "common/ByteOrder.h"
#include "common/MpegHeader.h"

namespace {
// The first packets of a new format only confirm it; audio flows from the
// fifth, which also announces the format.
constexpr int kConfirmingPackets = 3;
constexpr int kMaxPeerPacketLength = 1494;

AudioFormat EmptyFormat() {
    AudioFormat f;
    f.aptxOption = 0;  // "the rest 0": the transport sets it when it hands the format on
    return f;
}
}  // namespace

CStreamParser::CStreamParser() {
    std::memset(m_input, 0, sizeof m_input);
    std::memset(m_output, 0, sizeof m_output);
    std::memset(m_peerBlock, 0, sizeof m_peerBlock);
}

int CStreamParser::Append(const uint8_t* data, int len) {
    if (!data || len <= 0) return 0;
    const int n = len < GetInputRoom() ? len : GetInputRoom();
    std::memcpy(m_input + m_inputFill, data, static_cast<size_t>(n));
    m_inputFill += n;
    return n;
}

int CStreamParser::Read(uint8_t* dst, int len) {
    if (!dst || len <= 0) return 0;
    const int n = len < m_outputFill ? len : m_outputFill;
    std::memcpy(dst, m_output, static_cast<size_t>(n));
    std::memmove(m_output, m_output + n, static_cast<size_t>(m_outputFill - n));
    m_outputFill -= n;
    return n;
}

void CStreamParser::TakeFormat(AudioFormat* out) {
    if (out) *out = m_format;
    m_formatAvailable = 0;
}

void CStreamParser::TakePeerBlock(uint8_t* out) {
    if (out) std::memcpy(out, m_peerBlock, kPeerBlockBytes);
    m_peerAvailable = 0;
}

int CStreamParser::Parse() {
    int counted = 0;
    while (m_inputFill >= 2) {
        const int r = ParseOne();
        switch (r) {
        case kConsumed: return 1;
        case kNeedMore:
        case kOutputFull: return 0;
        case kInvalid: m_inputFill = 0; break;
        default: break;
        }
        if (++counted >= 15) return 0;
    }
    return 0;
}

int CStreamParser::ParseOne() {
    if (m_inputFill < 2) return kNeedMore;
    if (m_input[0] != 0xFF || m_input[1] < 0x10) return kInvalid;
    switch (m_input[1] >> 4) {
    case 0x1: return ParsePeer();
    case 0x3:
    case 0x9: return ParseSkipped();
    case 0x7: return ParsePcm();
    case 0xF: return ParseMpeg();
    default: return kInvalid;
    }
}

int CStreamParser::ParsePeer() {
    if (m_inputFill < 6) return kNeedMore;
    const int subtype = GetLe16(m_input + 2);
    const int len = GetLe16(m_input + 4);
    if (len == 0 || len > kMaxPacketBytes) return kInvalid;
    if (m_inputFill < 6 + len) return kNeedMore;
    if (subtype == kPeerBlockSubtype) {
        // A short block from the peer is taken as far as it goes; the rest stays zero.
        std::memset(m_peerBlock, 0, kPeerBlockBytes);
        std::memcpy(m_peerBlock, m_input + 6, static_cast<size_t>(len < kPeerBlockBytes ? len : kPeerBlockBytes));
        m_peerAvailable = 1;
    }
    Remove(6 + len);
    return kOutput;
}

int CStreamParser::ParseSkipped() {
    if (m_inputFill < 6) return kNeedMore;
    const int a = GetLe16(m_input + 2);
    const int b = m_input[5];
    if (a == 0 || a + b >= 1595) return kInvalid;
    if (m_inputFill < 6 + a + b) return kNeedMore;
    Remove(6 + a + b);
    return kConsumed;
}

int CStreamParser::ParsePcm() {
    if (m_inputFill < 12) return kNeedMore;
    const int n = GetLe16(m_input + 2);
    const uint32_t rate = GetLe32(m_input + 4);
    const int bits = m_input[8];
    const int channels = m_input[9];
    const int extra = m_input[11];
    const int total = 12 + n + extra;
    if (n == 0 || total > kMaxPacketBytes || (bits != 16 && bits != 24) || (channels != 1 && channels != 2) ||
        rate < 1 || rate > 48000)
        return kInvalid;
    if (m_inputFill < total) return kNeedMore;
    if (kOutputBytes - m_outputFill < n) return kOutputFull;
    if (bits == 24) {
        Remove(total);
        return kConsumed;
    }
    const int32_t sampleRate = static_cast<int32_t>(rate);
    if (m_format.codingType != CODING_PCM || m_format.bitRate != 0 || m_format.sampleRate != sampleRate) {
        m_format = EmptyFormat();
        m_format.codingType = CODING_PCM;
        m_format.bitRate = 0;
        m_format.sampleRate = sampleRate;
        m_format.deviceMode = channels == 1 ? DEVICEMODE_MONO : DEVICEMODE_STEREO;
        m_format.frameBytes = 2304;
        m_identical = 0;
        Remove(total);
        return kConsumed;
    }
    if (m_identical < kConfirmingPackets) {
        ++m_identical;
        Remove(total);
        return kConsumed;
    }
    CountIdentical();
    Output(m_input + 12, n);
    Remove(total);
    return kOutput;
}

int CStreamParser::ParseMpeg() {
    if (m_inputFill < 4) return kNeedMore;
    MpegHeader header;
    if (!ParseMpegHeader(m_input, &header) || header.bitRate <= 0) return kInvalid;
    int codingType;
    if (header.layer == 2)
        codingType = CODING_MPEG_L2;
    else if (header.layer == 3)
        codingType = CODING_MPEG_L3;
    else
        return kInvalid;
    const int sampleRate = header.sampleRate;
    static constexpr int kModes[4] = {DEVICEMODE_STEREO, DEVICEMODE_JOINT_STEREO, DEVICEMODE_DUAL_MONO,
                                      DEVICEMODE_MONO};
    const int mode = kModes[header.mode];
    // The padding slot belongs to the frame: its last byte is the count.
    const int frameLen = header.frameBytes;
    if (frameLen <= 0) return kInvalid;
    const int trailer = codingType == CODING_MPEG_L3 ? 2 : 0;
    // Layer II ends its frame with the count of extra bytes; Layer III carries
    // it in the second of its two trailer bytes.
    if (frameLen > kMaxPacketBytes) return kInvalid;
    if (m_inputFill < frameLen + trailer) return kNeedMore;
    const int count = codingType == CODING_MPEG_L2 ? m_input[frameLen - 1] : m_input[frameLen + 1];
    const int total = frameLen + trailer + count;
    if (total > kMaxPacketBytes) return kInvalid;
    if (m_inputFill < total) return kNeedMore;
    if (kOutputBytes - m_outputFill < frameLen) return kOutputFull;
    const int32_t bitRate = header.bitRate;
    if (m_format.codingType != codingType || m_format.bitRate != bitRate || m_format.sampleRate != sampleRate) {
        m_format = EmptyFormat();
        m_format.codingType = codingType;
        m_format.bitRate = bitRate;
        m_format.sampleRate = sampleRate;
        m_format.deviceMode = mode;
        m_identical = 0;
        m_outputFill = 0;
        Remove(total);
        return kConsumed;
    }
    if (m_identical < kConfirmingPackets) {
        ++m_identical;
        Remove(total);
        return kConsumed;
    }
    CountIdentical();
    Output(m_input, frameLen);
    if (codingType == CODING_MPEG_L2 && frameLen >= 2) {
        m_output[m_outputFill - 1] = 0;
        m_output[m_outputFill - 2] = 0;
    }
    Remove(total);
    return kOutput;
}

void CStreamParser::CountIdentical() {
    if (m_identical == kConfirmingPackets) {
        m_formatAvailable = 1;
        ++m_identical;  // once: later packets leave the counter alone
    }
}

void CStreamParser::Remove(int bytes) {
    if (bytes >= m_inputFill) {
        m_inputFill = 0;
        return;
    }
    std::memmove(m_input, m_input + bytes, static_cast<size_t>(m_inputFill - bytes));
    m_inputFill -= bytes;
}

void CStreamParser::Output(const uint8_t* data, int len) {
    std::memcpy(m_output + m_outputFill, data, static_cast<size_t>(len));
    m_outputFill += len;
}

PeerPacketMatch CStreamParser::FindPeerPacket(const uint8_t* data, int fill, int end, int limit) {
    PeerPacketMatch m;
    for (int i = 0; i + 1 < end; ++i) {
        if (data[i] != 0xFF || data[i + 1] != 0x10) continue;
        if (fill - i < 6) {
            if (i + 6 + kPeerBlockBytes > limit) continue;
            m.status = PeerPacketMatch::Partial;
            m.offset = i;
            return m;
        }
        const int subtype = GetLe16(data + i + 2);
        const int length = GetLe16(data + i + 4);
        if (subtype != kPeerBlockSubtype || length == 0 || length > kMaxPeerPacketLength || i + 6 + length > limit)
            continue;
        m.status = fill - i < 6 + length ? PeerPacketMatch::Partial : PeerPacketMatch::Found;
        m.offset = i;
        m.length = length;
        return m;
    }
    return m;
}
