#include "net/MulticastTransport.h"

#include <algorithm>
#include <cstring>

#include "net/ControlFrame.h"
#include "platform/NameLookup.h"

using namespace ws;

namespace {
constexpr int kMinBufferSize = 1024;
constexpr int kMaxBufferSize = 1 << 22;
constexpr int kMaxGroupText = 256;

AudioFormat ZeroFormat() {
    AudioFormat f;
    f.aptxOption = 0;
    return f;
}
}  // namespace

std::unique_ptr<CManagedTransport> CMulticastTransport::Create(const CSettings& settings, int /*fastCpu*/) {
    auto t = std::make_unique<CMulticastTransport>();
    if (!t->Init(settings.GetUDPBufferSize()) || !t->OpenSocket()) return nullptr;
    return t;
}

int CMulticastTransport::Start(const ConnectionInfo& connection, const AudioFormat& /*sendFormat*/) {
    char group[sizeof connection.address + 1] = {};
    std::memcpy(group, connection.address, sizeof connection.address);
    return Open(group, connection.port & 0xFFFF, connection.flag, connection.hops);
}

CMulticastTransport::~CMulticastTransport() {
    Close();
    if (m_wsaStarted) WSACleanup();
}

int CMulticastTransport::Init(int bufferSize) {
    if (m_state != kStateNone) return 0;
    const int rc = WSAStartup(0x0202);
    if (rc != 0) {
        SetError(rc);
        return 0;
    }
    m_wsaStarted = 1;
    if (bufferSize <= 0) bufferSize = kDefaultBufferSize;
    m_bufferSize = std::clamp(bufferSize, kMinBufferSize, kMaxBufferSize);
    m_receiver.Init(m_bufferSize);
    m_frame.assign(static_cast<size_t>(m_bufferSize), 0);
    m_sendFormat = ZeroFormat();
    SetState(kStateReady);
    return 1;
}

int CMulticastTransport::OpenSocket() {
    if (m_socket != INVALID_SOCKET || m_state != kStateReady) return 0;
    const SOCKET s = ws::socket(SocketKind::Datagram);
    if (s == INVALID_SOCKET) {
        SetError(WSAGetLastError());
        return 0;
    }
    if (SetNonBlocking(s, true) != 0) {
        SetError(WSAGetLastError());
        closesocket(s);
        return 0;
    }
    m_socket = s;
    m_sendError = 0;
    SetState(kStateSocket);
    return 1;
}

int CMulticastTransport::Open(const char* group, int port, int sender, int hops) {
    if (m_socket == INVALID_SOCKET || m_state != kStateSocket) return 0;
    char text[kMaxGroupText + 1];
    int n = 0;
    for (const char* p = group ? group : ""; *p && n < kMaxGroupText; ++p) {
        if (*p != ' ' && *p != '*' && *p != '_') text[n++] = *p;
    }
    text[n] = '\0';
    // Port 0 would bind anywhere and send nowhere.
    if (port <= 0 || port > 65535) {
        SetError(WSAEINVAL);
        return 0;
    }
    uint32_t ip = inet_addr(text);
    if (ip == kAddressNone || ip == 0) {
        if (gethostbyname(text, &ip) != 0) {
            SetError(WSAGetLastError());
            return 0;
        }
    }
    m_group.ip = ip;
    m_group.port = static_cast<uint16_t>(port);
    m_sender = sender ? 1 : 0;
    if (m_sender) {
        if (SetMulticastInterface(m_socket, kAddressAny) != 0) SetError(WSAGetLastError());
    } else {
        // Several receivers on one host share the group's port.
        if (SetReuseAddress(m_socket, true) != 0) SetError(WSAGetLastError());
        SocketAddress any;
        any.port = m_group.port;
        if (ws::bind(m_socket, any) != 0) {
            SetError(WSAGetLastError());
            return 0;
        }
        if (JoinGroup(m_socket, m_group.ip, kAddressAny) != 0) SetError(WSAGetLastError());
        m_receiver.Reset();
    }
    if (SetMulticastLoop(m_socket, false) != 0) SetError(WSAGetLastError());
    // An entry without hops (a remote-control request carries none) gets the
    // one router every station reaches, not a TTL of 0 that never leaves the host.
    if (SetMulticastTtl(m_socket, std::clamp(hops, 1, 255)) != 0) SetError(WSAGetLastError());
    m_sendError = 0;
    SetState(kStateOpen);
    return 1;
}

int CMulticastTransport::Close() {
    if (m_state == kStateOpen && !m_sender) LeaveGroup(m_socket, m_group.ip, kAddressAny);
    if (m_state != kStateNone) SetState(kStateSocket);
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    m_socket = INVALID_SOCKET;
    m_announce.Stop();
    m_receiver.Reset();
    m_sendFormat = ZeroFormat();
    m_sendFormatChanged = 1;
    m_sendError = 0;
    if (m_state != kStateNone) SetState(kStateReady);
    return 1;
}

void CMulticastTransport::SetState(int state) {
    if (state == m_state) return;
    m_state = state;
    m_stateChanged = 1;
}

void CMulticastTransport::SetError(int code) {
    if (code == 0 || code == WSAEWOULDBLOCK || m_lastError != 0) return;
    m_lastError = code;
}

int CMulticastTransport::GetLastError() {
    const int code = m_lastError;
    m_lastError = 0;
    return code;
}

int CMulticastTransport::GetState() {
    m_stateChanged = 0;
    return m_state;
}

// ---------------------------------------------------------------- sending

void CMulticastTransport::SetSendFormat(const AudioFormat* format) {
    // A receiver's format is the one it hears.
    if (IsReceiving()) return;
    m_sendFormat = format ? *format : ZeroFormat();
    // Receivers learn a new format at once: until then they would decode it
    // with the old one. The repeat follows every 4 s.
    if (m_state == kStateOpen && m_sendFormat.codingType != 0) Announce();
    m_announce.Start(kAnnounceMs);
}

int CMulticastTransport::GetSendSpace() {
    if (m_state != kStateOpen || !m_sender) return 0;
    return std::max(0, m_sendFormat.frameBytes);
}

bool CMulticastTransport::SendDatagram(const uint8_t* data, int len) {
    if (!data || len <= 0 || m_state != kStateOpen) return false;
    const int n = ws::sendto(m_socket, data, len, m_group);
    if (n == len) {
        if (m_sendError) {
            m_sendError = 0;
            m_sendFormatChanged = 1;
        }
        return true;
    }
    // A failed send marks the format unknown until a send succeeds; the
    // code itself is not kept (it would repeat for every datagram).
    if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK && !m_sendError) {
        m_sendError = 1;
        m_sendFormatChanged = 1;
    }
    return false;
}

int CMulticastTransport::WriteAudio(const uint8_t* src, int len) {
    if (!src || len <= 0 || m_state != kStateOpen || !m_sender) return 0;
    for (int offset = 0; offset < len; offset += kMaxDatagramBytes) {
        if (!SendDatagram(src + offset, std::min(kMaxDatagramBytes, len - offset))) return 0;
    }
    return 1;
}

bool CMulticastTransport::SendFrame(int type, const void* data, int len) {
    const int n = BuildControlFrame(type, data, len, m_frame.data(), static_cast<int>(m_frame.size()));
    return n > 0 && SendDatagram(m_frame.data(), n);
}

// A control frame goes as one datagram of its own, whatever the audio's
// frame size: a low-rate sender's identity must reach its receivers too.
int CMulticastTransport::SendControl(int type, const void* data, int len) {
    if (!m_sender || len < 0 || (len > 0 && !data)) return 0;
    if (type == CTRL_PEERINFO) {
        uint8_t record[kStationIdentityBytes] = {};
        std::memcpy(record, data, std::min<size_t>(static_cast<size_t>(len), kStationIdentityBytes));
        m_identity = LoadStationIdentity(record);
        m_haveIdentity = 1;
    }
    if (m_state != kStateOpen) return 0;
    return SendFrame(type, data, len) ? 1 : 0;
}

void CMulticastTransport::Announce() {
    uint8_t format[kAudioFormatBytes];
    StoreAudioFormat(m_sendFormat, format);
    SendFrame(CTRL_FORMAT, format, static_cast<int>(kAudioFormatBytes));
    if (!m_haveIdentity) return;
    uint8_t identity[kStationIdentityBytes];
    StoreStationIdentity(m_identity, identity);
    SendFrame(CTRL_PEERINFO, identity, static_cast<int>(kStationIdentityBytes));
}

// ---------------------------------------------------------------- receiving

int CMulticastTransport::ReceiveDatagram(uint8_t* dst, int max, SocketAddress* from) {
    if (!IsReceiving() || m_socket == INVALID_SOCKET) return 0;
    const int n = ws::recvfrom(m_socket, dst, max, from);
    return n > 0 ? n : 0;
}

void CMulticastTransport::Poll() {
    if (m_socket == INVALID_SOCKET || m_state != kStateOpen) return;
    if (m_sender) {
        if (m_announce.IsExpired()) {
            m_announce.Start(kAnnounceMs);
            Announce();
        }
        return;
    }
    m_receiver.Poll(*this);
}

void CMulticastTransport::GetReceiveFormat(AudioFormat* format) {
    if (format) {
        if (m_sender && m_sendError) {
            *format = ZeroFormat();
        } else {
            *format = m_sender ? m_sendFormat : m_receiver.GetFormat();
            format->aptxOption = 1;
        }
    }
    m_sendFormatChanged = 0;
    m_receiver.ClearFormatChanged();
}

int CMulticastTransport::IsReceiveFormatChanged() {
    return m_sender ? m_sendFormatChanged : m_receiver.IsFormatChanged();
}

int CMulticastTransport::ReadAudio(uint8_t* dst, int len) {
    if (!IsReceiving()) return 0;
    Poll();
    return m_receiver.Read(dst, len);
}

int CMulticastTransport::GetReceiveAvailable() {
    if (!IsReceiving()) return 0;
    Poll();
    return m_receiver.GetAvailable();
}

void CMulticastTransport::FlushReceive() { m_receiver.Flush(); }
