#include "net/MulticastReceiver.h"

#include <algorithm>
#include <cstring>

#include "common/ByteOrder.h"
#include "net/ControlFrame.h"
#include "net/PeerBlock.h"

namespace {
// Bounds the work of one step whatever arrives.
constexpr int kMaxScanRounds = 64;
constexpr int kMaxParserRounds = 16;
constexpr int kMaxParseCalls = 256;
constexpr int kMaxIgnoredPerStep = 64;

AudioFormat ZeroFormat() {
    AudioFormat f;
    f.aptxOption = 0;
    return f;
}

bool IsMpeg(int codingType) { return codingType == CODING_MPEG_L2 || codingType == CODING_MPEG_L3; }

bool SameFirstWords(const AudioFormat& a, const AudioFormat& b) {
    return a.codingType == b.codingType && a.bitRate == b.bitRate && a.sampleRate == b.sampleRate &&
           a.deviceMode == b.deviceMode;
}
}  // namespace

void CMulticastReceiver::Init(int bufferSize) {
    m_bufferSize = bufferSize;
    m_buffer.assign(static_cast<size_t>(bufferSize), 0);
    m_controlPayload.assign(static_cast<size_t>(bufferSize), 0);
    m_held.assign(static_cast<size_t>(kDatagramBytes), 0);
    Reset();
}

void CMulticastReceiver::Reset() {
    m_fill = 0;
    m_limit = m_bufferSize;
    m_mode = kModeInitial;
    m_partial = 0;
    m_partialOffset = 0;
    m_format = ZeroFormat();
    m_formatChanged = 1;
    DiscardControl();
    m_heldOffset = 0;
    m_heldFill = 0;
    m_haveSource = 0;
    m_source = ws::SocketAddress();
    m_sourceTimeout.Stop();
    m_modeToggle.Stop();
    m_parser = CStreamParser();
}

int CMulticastReceiver::Limit() const {
    if (m_format.codingType == 0 || m_partial) return m_bufferSize;
    return m_limit;
}

// Holds the source's next datagram unless part of one is still to go.
// Datagrams of any other source are read away and counted.
bool CMulticastReceiver::HoldDatagram(CDatagramSource& source) {
    if (m_heldOffset < m_heldFill) return true;
    m_heldOffset = 0;
    m_heldFill = 0;
    for (int i = 0; i < kMaxIgnoredPerStep; ++i) {
        ws::SocketAddress from;
        const int n = source.ReceiveDatagram(m_held.data(), kDatagramBytes, &from);
        if (n <= 0) return false;
        if (!m_haveSource) {
            m_source = from;
            m_haveSource = 1;
        } else if (from.ip != m_source.ip || from.port != m_source.port) {
            ++m_ignored;
            continue;
        }
        m_heldFill = std::min(n, kDatagramBytes);
        return true;
    }
    return false;
}

// A sender's control frames go as datagrams of their own.
bool CMulticastReceiver::HeldIsControlFrame() const {
    if (m_heldOffset != 0 || m_heldFill < kControlHeaderBytes ||
        std::memcmp(m_held.data(), kControlMagic, sizeof kControlMagic) != 0)
        return false;
    const ControlFrameMatch m = FindControlFrame(m_held.data(), m_heldFill, m_heldFill);
    return m.status == ControlFrameMatch::Found && m.offset == 0;
}

// The source's next bytes, at most room of them.
int CMulticastReceiver::TakeDatagram(CDatagramSource& source, uint8_t* dst, int room) {
    if (room <= 0 || !HoldDatagram(source)) return 0;
    const int n = std::min(room, m_heldFill - m_heldOffset);
    std::memcpy(dst, m_held.data() + m_heldOffset, static_cast<size_t>(n));
    m_heldOffset += n;
    return n;
}

void CMulticastReceiver::ForgetSource() {
    m_sourceTimeout.Stop();
    m_haveSource = 0;
    m_heldOffset = 0;
    m_heldFill = 0;
    m_fill = 0;
    m_partial = 0;
    m_partialOffset = 0;
    // The parser would otherwise take a new source in the old format for
    // known and never announce it again.
    m_parser = CStreamParser();
    m_format = ZeroFormat();
    m_limit = m_bufferSize;
    m_formatChanged = 1;
}

void CMulticastReceiver::Poll(CDatagramSource& source) {
    if (m_format.codingType == 0) {
        if (!m_modeToggle.IsRunning()) {
            m_modeToggle.Start(kModeToggleMs);
        } else if (m_modeToggle.IsExpired()) {
            m_mode = m_mode == kModeAudio ? kModeControl : kModeAudio;
            if (m_mode == kModeAudio) m_partial = 0;
            m_modeToggle.Start(kModeToggleMs);
        }
    } else {
        m_modeToggle.Stop();
    }
    if (m_sourceTimeout.IsExpired()) ForgetSource();
    if (m_mode == kModeAudio) {
        ReceiveThroughParser(source);
        return;
    }
    ReceiveRaw(source);
    if (m_partial) return;
    if (m_format.codingType == 0)
        m_fill = 0;
    else if (IsMpeg(m_format.codingType))
        DropBeforeSync();
}

void CMulticastReceiver::ReceiveRaw(CDatagramSource& source) {
    const int room = Limit() - m_fill;
    // A frame still arriving completes whatever the audio's frame size.
    const int wanted = m_partial ? 0 : std::max(0, m_format.frameBytes);
    if (room <= wanted) return;
    const int n = TakeDatagram(source, m_buffer.data() + m_fill, room);
    if (n <= 0) return;
    m_fill += n;
    m_sourceTimeout.Start(kSourceTimeoutMs);
    if (m_controlType) return;
    for (int round = 0; round < kMaxScanRounds; ++round) {
        bool ok;
        if (m_mode == kModeControl) {
            ok = ScanControl();
        } else {
            const bool control = ScanControl();
            const bool packet = !m_controlType && ScanPacket();
            ok = control && packet;
        }
        if (!ok || m_controlType || m_mode == kModeAudio) break;
    }
}

bool CMulticastReceiver::ScanControl() {
    const ControlFrameMatch m = FindControlFrame(m_buffer.data(), m_fill, m_bufferSize);
    m_partial = m.status == ControlFrameMatch::Partial ? 1 : 0;
    m_partialOffset = m.offset;
    if (m.status != ControlFrameMatch::Found) return false;
    std::memcpy(m_controlPayload.data(), m_buffer.data() + m.offset + kControlHeaderBytes,
                static_cast<size_t>(m.length));
    Cut(m.offset, kControlHeaderBytes + m.length);
    m_mode = kModeControl;
    if (m.type == CTRL_KEEPALIVE) return true;
    if (m.type == CTRL_FORMAT) {
        // A payload too short for a format announces nothing.
        if (m.length >= static_cast<int>(kAudioFormatBytes)) TakeFormat(LoadAudioFormat(m_controlPayload.data()));
        return true;
    }
    m_controlType = m.type;
    m_controlLength = m.length;
    return false;
}

bool CMulticastReceiver::ScanPacket() {
    for (int i = 0; i + 1 < m_fill; ++i) {
        if (m_buffer[i] != 0xFF || m_buffer[i + 1] != 0x10) continue;
        if (m_fill - i < 6) {
            if (i + 6 > m_bufferSize) continue;
            m_partial = 1;
            m_partialOffset = i;
            return false;
        }
        const int subtype = GetLe16(&m_buffer[i + 2]);
        const int length = GetLe16(&m_buffer[i + 4]);
        if (length == 0 || length > kMaxPeerPacketLength || i + 6 + length > m_bufferSize) continue;
        if (m_fill - i < 6 + length) {
            m_partial = 1;
            m_partialOffset = i;
            return false;
        }
        m_partial = 0;
        if (subtype == kPeerBlockSubtype && !m_controlType) SetPendingIdentity(&m_buffer[i + 6], length);
        Cut(i, 6 + length);
        if (m_mode != kModeAudio) {
            m_mode = kModeAudio;
            m_fill = 0;
        }
        return true;
    }
    return false;
}

// A short block is taken as far as it goes; the rest of the record is zero.
void CMulticastReceiver::SetPendingIdentity(const uint8_t* block, int length) {
    uint8_t whole[kPeerBlockBytes] = {};
    std::memcpy(whole, block, static_cast<size_t>(std::min(length, kPeerBlockBytes)));
    StoreStationIdentity(StationIdentityFromPeerBlock(whole), m_controlPayload.data());
    m_controlType = CTRL_PEERINFO;
    m_controlLength = static_cast<int>(kStationIdentityBytes);
}

void CMulticastReceiver::TakeFormat(const AudioFormat& f) {
    if (SameFirstWords(f, m_format)) return;
    m_format = f;
    m_format.direction = DIRECTION_RECEIVE_ONLY;
    m_formatChanged = 1;
    // Two frames; a frame size the source got wrong leaves the whole buffer.
    const int64_t two = 2 * static_cast<int64_t>(f.frameBytes);
    m_limit = f.frameBytes <= 0 || two > m_bufferSize ? m_bufferSize : static_cast<int>(two);
}

void CMulticastReceiver::ReceiveThroughParser(CDatagramSource& source) {
    uint8_t chunk[kParserDatagramBytes];
    int calls = 0;
    while (calls++ < kMaxParseCalls && m_parser.Parse() == 1) {
    }
    bool heard = false;
    bool controlFrames = false;
    for (int round = 0; round < kMaxParserRounds; ++round) {
        const int room = std::min(m_parser.GetInputRoom(), kParserDatagramBytes);
        if (room <= 0 || !HoldDatagram(source)) break;
        // The parser would play such a source's audio but never read its
        // control frames, its identity among them: the frame is left for
        // the control reading.
        if (HeldIsControlFrame()) {
            controlFrames = true;
            heard = true;
            break;
        }
        const int n = TakeDatagram(source, chunk, room);
        if (n <= 0) break;
        heard = true;
        m_parser.Append(chunk, n);
        while (calls++ < kMaxParseCalls && m_parser.Parse() == 1) {
        }
    }
    if (m_parser.IsFormatReady()) {
        AudioFormat f;
        m_parser.TakeFormat(&f);
        TakeFormat(f);
        m_formatChanged = 1;
        if (f.codingType != 0) m_mode = kModeAudio;
    }
    if (!m_controlType && m_parser.IsPeerBlockReady()) {
        uint8_t block[kPeerBlockBytes];
        m_parser.TakePeerBlock(block);
        SetPendingIdentity(block, kPeerBlockBytes);
    }
    const int space = Limit() - m_fill;
    const int got = space > 0 ? m_parser.Read(m_buffer.data() + m_fill, space) : 0;
    if (got > 0) {
        m_fill += got;
        heard = true;
    }
    if (heard) m_sourceTimeout.Start(kSourceTimeoutMs);
    if (controlFrames) {
        m_mode = kModeControl;
        m_parser = CStreamParser();
    }
}

void CMulticastReceiver::DropBeforeSync() {
    if (m_fill < 2 || (m_buffer[0] == 0xFF && (m_buffer[1] & 0xF0) == 0xF0)) return;
    int i = 0;
    while (i + 1 < m_fill && !(m_buffer[i] == 0xFF && (m_buffer[i + 1] & 0xF0) == 0xF0)) ++i;
    // Without a sync word a trailing 0xFF may still begin one.
    if (i + 1 >= m_fill && m_buffer[m_fill - 1] != 0xFF) i = m_fill;
    Cut(0, i);
}

void CMulticastReceiver::Cut(int offset, int bytes) {
    const int end = std::min(offset + bytes, m_fill);
    std::memmove(m_buffer.data() + offset, m_buffer.data() + end, static_cast<size_t>(m_fill - end));
    m_fill -= end - offset;
}

int CMulticastReceiver::Read(uint8_t* dst, int len) {
    if (!dst || len <= 0 || m_controlType || m_partial) return 0;
    const int n = std::min(len, m_fill);
    std::memcpy(dst, m_buffer.data(), static_cast<size_t>(n));
    Cut(0, n);
    return n;
}

void CMulticastReceiver::Flush() {
    if (m_partial && m_mode != kModeAudio) {
        Cut(0, m_partialOffset);
        m_partialOffset = 0;
        return;
    }
    m_fill = 0;
    m_partial = 0;
}

void CMulticastReceiver::DiscardControl() {
    m_controlType = 0;
    m_controlLength = 0;
}

int CMulticastReceiver::ReadControl(void* dst, int len) {
    if (!m_controlType) return 0;
    if (dst && len > 0) {
        const int n = std::min(len, m_controlLength);
        std::memcpy(dst, m_controlPayload.data(), static_cast<size_t>(n));
        std::memset(static_cast<uint8_t*>(dst) + n, 0, static_cast<size_t>(len - n));
    }
    DiscardControl();
    return 1;
}
