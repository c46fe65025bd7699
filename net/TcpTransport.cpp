#include "net/TcpTransport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "codecs/CodingTable.h"
#include "common/ByteOrder.h"
#include "net/PacketWriter.h"
#include "net/PeerBlock.h"
#include "platform/Clock.h"
#include "platform/NameLookup.h"

using namespace ws;

namespace {
constexpr int kMinBufferSize = 1024;
constexpr int kMaxBufferSize = 1 << 22;
constexpr uint32_t kWorkerFirstPauseMs = 250;
constexpr uint32_t kWorkerLastPauseMs = 150;
// Bounds the reading away at a close (4 KiB a round), so that a peer
// sending fast cannot keep the owner's thread here.
constexpr int kMaxReadAwayRounds = 1024;

bool IsMpeg(int codingType) {
    const CodingDescriptor* row = FindCoding(codingType);
    return row && row->mpegFramed;
}

int MirrorDirection(int direction) {
    if (direction == DIRECTION_SEND_ONLY) return DIRECTION_RECEIVE_ONLY;
    if (direction == DIRECTION_RECEIVE_ONLY) return DIRECTION_SEND_ONLY;
    return DIRECTION_BOTH;
}

// Two frames, within the buffer; a frame size the peer or the settings got
// wrong (zero, negative, huge) leaves the whole buffer.
int TwoFrames(int frameBytes, int bufferSize) {
    if (frameBytes <= 0) return bufferSize;
    const int64_t two = 2 * static_cast<int64_t>(frameBytes);
    return two < bufferSize ? static_cast<int>(two) : bufferSize;
}
}  // namespace

std::unique_ptr<CManagedTransport> CTcpTransport::Create(const CSettings& settings, int /*fastCpu*/) {
    auto tcp = std::make_unique<CTcpTransport>();
    std::string address;
    settings.GetSocksAddress(address);
    if (!tcp->Init(settings.GetTCPBufferSize(), settings.GetSocksVersion(), address.c_str(),
                   settings.GetSocksPortNumber()))
        return nullptr;
    if (settings.GetSocksNeedLogin()) {
        std::string user;
        settings.GetSocksUsername(user);
        const std::string password = settings.GetSocksPassword();
        tcp->SetProxyLogin(user.c_str(), password.c_str());
    }
    if (!tcp->Open()) return nullptr;
    return tcp;
}

CTcpTransport::CTcpTransport() = default;

CTcpTransport::~CTcpTransport() {
    Close();
    if (m_wsaStarted) WSACleanup();
}

// ---------------------------------------------------------------- set-up

int CTcpTransport::Init(int bufferSize, int socksVersion, const char* proxyAddress, int proxyPort) {
    if (m_state != kStateNone) return 0;
    if (!m_wsaStarted) {
        const int rc = WSAStartup(0x0202);
        if (rc != 0) {
            SetError(rc);
            return 0;
        }
        m_wsaStarted = 1;
    }
    if (bufferSize <= 0) bufferSize = kDefaultBufferSize;
    m_bufferSize = std::clamp(bufferSize, kMinBufferSize, kMaxBufferSize);
    m_receive.assign(static_cast<size_t>(m_bufferSize), 0);
    m_send.assign(static_cast<size_t>(m_bufferSize), 0);
    m_wire.assign(static_cast<size_t>(m_bufferSize), 0);
    m_controlPayload.assign(static_cast<size_t>(m_bufferSize), 0);
    m_sendCapacity = m_bufferSize;
    m_receiveChunk = m_bufferSize;
    if (!m_socks.Init(socksVersion, proxyAddress, proxyPort)) return 0;
    m_socks.SetTimeout(m_connectTimeoutMs);
    SetState(kStateReady);
    return 1;
}

void CTcpTransport::SetProxyLogin(const char* user, const char* password) { m_socks.SetLogin(user, password); }

void CTcpTransport::SetConnectTimeout(uint32_t ms) {
    m_connectTimeoutMs = ms;
    m_socks.SetTimeout(ms);
}

int CTcpTransport::Open() {
    if (m_state != kStateReady || m_socket != INVALID_SOCKET) return 0;
    const SOCKET s = ws::socket(SocketKind::Stream);
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
    m_protocol = kProtocolUnknown;
    m_formatSent = 0;
    m_socksFailed.store(0, std::memory_order_relaxed);
    m_accepted = 0;
    m_framePartial = 0;
    SetState(kStateOpen);
    return 1;
}

int CTcpTransport::Close() {
    StopWorker();
    CloseSockets();
    m_keepAlive.Stop();
    m_formatResend.Stop();
    m_receiveTimeout.Stop();
    m_sendTimeout.Stop();
    m_connectTimeout.Stop();
    m_receiveFormat = AudioFormat();
    m_sendFormat = AudioFormat();
    m_sendFill = 0;
    m_receiveFill = 0;
    m_wireFill = 0;
    m_controlType = 0;
    m_controlLength = 0;
    m_framePartial = 0;
    m_listenPort = 0;
    m_sendCapacity = m_bufferSize;
    m_receiveChunk = m_bufferSize;
    m_receiveFormatChanged = 1;
    m_parser = CStreamParser();
    if (m_state != kStateNone) SetState(kStateReady);
    return 1;
}

void CTcpTransport::CloseSockets() {
    if (m_dataSocket != INVALID_SOCKET) FinishStream(m_dataSocket);
    if (m_acceptedSocket != INVALID_SOCKET) closesocket(m_acceptedSocket);
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    m_acceptedSocket = INVALID_SOCKET;
    m_socket = INVALID_SOCKET;
    m_dataSocket = INVALID_SOCKET;
}

// Our own end of a call is orderly: the peer reads an end of stream, not a
// reset. Nothing more goes out, what the peer already sent is read away
// (a socket closed with unread bytes resets the connection), without
// waiting for anything.
void CTcpTransport::FinishStream(SOCKET s) {
    SetLinger(s, false, 0);
    ws::shutdown(s, SD_SEND);
    ReadAway(s);
}

// Reads and drops what is readable now. true when the peer's end of stream
// was reached.
bool CTcpTransport::ReadAway(SOCKET s) {
    uint8_t scratch[4096];
    for (int i = 0; i < kMaxReadAwayRounds; ++i) {
        const int n = ws::recv(s, scratch, sizeof scratch);
        if (n == 0) return true;
        if (n < 0) return false;
    }
    return false;
}

int CTcpTransport::Listen(int port) {
    if (m_state != kStateOpen || m_socket == INVALID_SOCKET) return 0;
    if (port <= 0 || port > 65535) {
        SetError(WSAEINVAL);
        return 0;
    }
    SocketAddress any;
    any.ip = kAddressAny;
    any.port = static_cast<uint16_t>(port);
    // A port that cannot be had is reported, not taken for listening.
    if (ws::bind(m_socket, any) != 0 || ws::listen(m_socket, 1) != 0) {
        SetError(WSAGetLastError());
        return 0;
    }
    m_listenPort = port;
    SetState(kStateListening);
    return 1;
}

int CTcpTransport::Start(const ConnectionInfo& connection, const AudioFormat& /*sendFormat*/) {
    char address[sizeof connection.address + 1] = {};
    std::memcpy(address, connection.address, sizeof connection.address);
    return Connect(address, connection.port, connection.flag);
}

int CTcpTransport::StartListening(const CSettings& settings) {
    if (settings.GetTCPAnswerAcceptCalls()) Listen(settings.GetTCPPortNumber());
    return 0;
}

int CTcpTransport::Connect(const char* address, int port, int useProxy) {
    if (m_state != kStateListening && m_state != kStateReady && m_state != kStateOpen) return 0;
    // Everything about the destination is settled before the listening
    // socket is given up: a request that cannot be dialled leaves the
    // station answering calls as before.
    if (port <= 0 || port > 65535) {
        SetError(WSAEINVAL);
        return 0;
    }
    // Blanks, '*' and '_' are removed from the destination text.
    char host[sizeof m_hostName];
    int n = 0;
    for (const char* p = address ? address : ""; *p && n < 256; ++p) {
        if (*p != ' ' && *p != '*' && *p != '_') host[n++] = *p;
    }
    host[n] = '\0';
    if (n == 0) {
        SetError(WSAEINVAL);
        return 0;
    }
    SocketAddress target;
    if (!useProxy) {
        uint32_t ip = ws::inet_addr(host);
        if (ip == kAddressNone || ip == 0) {
            if (ws::gethostbyname(host, &ip) != 0) {
                SetError(WSAGetLastError());
                return 0;
            }
        }
        target.ip = ip;
        target.port = static_cast<uint16_t>(port);
    }
    if (m_state == kStateListening) {
        // A fresh socket for the call; the listening port is kept so that a
        // failed attempt listens there again.
        StopWorker();
        CloseSockets();
        const int keepPort = m_listenPort;
        SetState(kStateReady);
        if (!Open()) {
            // No socket for the call: the station goes back to answering if it can.
            if (Open() && keepPort) Listen(keepPort);
            return 0;
        }
        m_listenPort = keepPort;
    } else if (m_state == kStateReady) {
        if (!Open()) return 0;
    }
    if (m_state != kStateOpen || m_socket == INVALID_SOCKET) return 0;
    std::memcpy(m_hostName, host, static_cast<size_t>(n) + 1);
    m_useProxy = useProxy ? 1 : 0;
    m_port = port;
    if (!m_useProxy) m_peerAddress = target;
    m_accepted = 0;
    DiscardControl();
    m_socksFailed.store(0, std::memory_order_relaxed);
    m_workerError.store(0, std::memory_order_relaxed);
    m_workerStop.store(false, std::memory_order_relaxed);
    m_socks.ResetCancel();
    m_workerRunning.store(true, std::memory_order_release);
    m_worker = std::thread(&CTcpTransport::ConnectWorker, this, m_socket, m_useProxy, target, port);
    SetState(kStateConnecting);
    m_connectTimeout.Start(m_connectTimeoutMs);
    return 1;
}

// Connect worker thread: touches only the socket it was given, the SOCKS
// client and the atomics it reports through.
void CTcpTransport::ConnectWorker(SOCKET s, int useProxy, SocketAddress target, int port) {
    if (WorkerPause(kWorkerFirstPauseMs)) {
        if (useProxy) {
            if (!m_socks.Connect(s, m_hostName, port, 0)) {
                m_workerError.store(m_socks.GetLastError(), std::memory_order_relaxed);
                m_socksFailed.store(1, std::memory_order_relaxed);
            }
        } else if (ws::connect(s, target) != 0) {
            const int e = WSAGetLastError();
            if (e != WSAEWOULDBLOCK) m_workerError.store(e, std::memory_order_relaxed);
        }
        WorkerPause(kWorkerLastPauseMs);
    }
    m_workerRunning.store(false, std::memory_order_release);  // results above are visible first
}

bool CTcpTransport::WorkerPause(uint32_t ms) {
    const uint32_t start = timeGetTime();
    for (;;) {
        if (m_workerStop.load(std::memory_order_acquire)) return false;
        const uint32_t elapsed = timeGetTime() - start;
        if (elapsed >= ms) return true;
        Sleep(std::min<uint32_t>(10, ms - elapsed));
    }
}

void CTcpTransport::StopWorker() {
    if (!m_worker.joinable()) return;
    m_workerStop.store(true, std::memory_order_release);
    m_socks.Cancel();
    m_worker.join();
    m_workerStop.store(false, std::memory_order_relaxed);
    m_socks.ResetCancel();
    m_workerRunning.store(false, std::memory_order_relaxed);
}

// The peer ended its stream: it hung up. The call ends as after an error,
// but there is no error to report.
void CTcpTransport::PeerHungUp() { FailAndListenAgain(0); }

// A peer that hung up resets the connection when our audio reaches it after
// its close, and that reset may be met by a send before the end of stream is
// read. Only a reset without an end of stream before it is a failure (it
// arrives as 10054; after the end of stream it arrives as 10058).
void CTcpTransport::SendFailed(int code) {
    if (code != WSAECONNRESET && m_dataSocket != INVALID_SOCKET && ReadAway(m_dataSocket)) code = 0;
    FailAndListenAgain(code);
}

void CTcpTransport::FailAndListenAgain(int code) {
    const int port = m_listenPort;
    Close();
    SetError(code);
    if (Open() && port) Listen(port);
}

// ---------------------------------------------------------------- small parts

void CTcpTransport::SetState(int state) {
    if (state == m_state) return;
    m_state = state;
    m_stateChanged = 1;
}

void CTcpTransport::SetError(int code) {
    if (code == 0 || code == WSAEWOULDBLOCK || m_lastError != 0) return;
    m_lastError = code;
}

int CTcpTransport::GetLastError() {
    const int code = m_lastError;
    m_lastError = 0;
    return code;
}

int CTcpTransport::GetState() {
    m_stateChanged = 0;
    return m_state;
}

int CTcpTransport::SetBuffering(int connectionType, int bufferingMode, int bufferMs) {
    m_buffering.connectionType = connectionType;
    m_buffering.bufferingMode = bufferingMode;
    m_buffering.bufferMs = bufferMs;
    m_haveBuffering = 1;
    return 1;
}

int CTcpTransport::GetBuffering(int* connectionType, int* bufferingMode, int* bufferMs) const {
    if (!m_haveBuffering) return 0;
    if (connectionType) *connectionType = m_buffering.connectionType;
    if (bufferingMode) *bufferingMode = m_buffering.bufferingMode;
    if (bufferMs) *bufferMs = m_buffering.bufferMs;
    return 1;
}

int CTcpTransport::GetPeerAddress(char* out, int size) {
    if (!out || size <= 0 || m_state != kStateConnected || m_dataSocket == INVALID_SOCKET) return 0;
    SocketAddress peer;
    if (ws::getpeername(m_dataSocket, &peer) != 0) {
        SetError(WSAGetLastError());
        return 0;
    }
    std::snprintf(out, static_cast<size_t>(size), "%d.%d.%d.%d", static_cast<int>(peer.ip >> 24),
                  static_cast<int>((peer.ip >> 16) & 0xFF), static_cast<int>((peer.ip >> 8) & 0xFF),
                  static_cast<int>(peer.ip & 0xFF));
    return 1;
}

int CTcpTransport::CapacityFor(const AudioFormat& f) const { return TwoFrames(f.frameBytes, m_bufferSize); }

int CTcpTransport::ReceiveChunkFor(const AudioFormat& f) const {
    const CodingDescriptor* row = FindCoding(f.codingType);
    if (row && row->tcpReceiveChunk > 0) return std::min(row->tcpReceiveChunk, m_bufferSize);
    return TwoFrames(f.frameBytes, m_bufferSize);
}

void CTcpTransport::StartTimeouts(uint32_t ms) {
    const int direction = m_sendFormat.direction;
    if (direction == DIRECTION_SEND_ONLY)
        m_receiveTimeout.Stop();
    else
        m_receiveTimeout.Start(ms);
    if (direction == DIRECTION_RECEIVE_ONLY)
        m_sendTimeout.Stop();
    else
        m_sendTimeout.Start(ms);
}

void CTcpTransport::ConnectionStarted(SOCKET data) {
    m_dataSocket = data;
    SetNoDelay(data, true);
    // Should this program die mid-call, the system resets the connection,
    // so that the peer tells that from a hang-up (an orderly close turns
    // this off first).
    SetLinger(data, true, 0);
    if (m_socketBufferBytes > 0) {
        SetSendBufferSize(data, m_socketBufferBytes);
        SetReceiveBufferSize(data, m_socketBufferBytes);
    }
    m_packetsToSkip = kPacketsSkippedAtStart;
    m_receiveFill = 0;
    m_wireFill = 0;
    m_framePartial = 0;
    m_sendCapacity = CapacityFor(m_sendFormat);
    if (m_sendFill > m_sendCapacity) m_sendFill = 0;
    SetState(kStateConnected);
}

// ---------------------------------------------------------------- poll

void CTcpTransport::Poll() {
    if (m_worker.joinable()) {
        if (m_workerRunning.load(std::memory_order_acquire)) return;
        m_worker.join();
        const int error = m_workerError.exchange(0, std::memory_order_relaxed);
        if (m_socksFailed.load(std::memory_order_relaxed) || error != 0) {
            FailAndListenAgain(error);
            return;
        }
    }
    if (m_socket == INVALID_SOCKET && m_dataSocket == INVALID_SOCKET) return;
    switch (m_state) {
    case kStateOpen:
    case kStateListening: {
        if (!m_listenPort || m_socket == INVALID_SOCKET) return;
        const SOCKET a = ws::accept(m_socket, nullptr);
        if (a == INVALID_SOCKET) return;  // nobody calling (or a caller that gave up)
        m_acceptedSocket = a;
        m_accepted = 1;
        ConnectionStarted(a);
        m_receiveTimeout.Start(kStartTimeoutMs);
        m_sendTimeout.Stop();
        return;
    }
    case kStateConnecting: {
        const int r = CheckConnect(m_socket);
        if (r == 1) {
            ConnectionStarted(m_socket);
            StartTimeouts(kStartTimeoutMs);
        } else if (r == SOCKET_ERROR) {
            FailAndListenAgain(WSAGetLastError());
        } else if (m_connectTimeout.IsExpired()) {
            FailAndListenAgain(WSAETIMEDOUT);
        }
        return;
    }
    case kStateConnected:
        break;
    default:
        return;
    }
    ReceiveStep();
    SendStep();
    if (m_state != kStateConnected) return;
    if (m_keepAlive.IsExpired()) {
        SendControl(CTRL_KEEPALIVE, nullptr, 0);
        m_keepAlive.Start(kKeepAliveMs);
    }
    if (m_formatResend.IsExpired()) {
        m_formatResend.Stop();
        m_formatSent = 0;  // goes again with the next send
    }
    if (m_state == kStateConnected && (m_receiveTimeout.IsExpired() || m_sendTimeout.IsExpired())) {
        Close();
        SetError(WSAETIMEDOUT);
    }
}

// ---------------------------------------------------------------- receiving

void CTcpTransport::ReceiveStep() {
    if (m_state != kStateConnected || m_dataSocket == INVALID_SOCKET) return;
    if (m_protocol == kProtocolPackets) {
        ReceivePackets();
        return;
    }
    const int limit = m_framePartial ? m_bufferSize : m_receiveChunk;
    int room = limit - m_receiveFill;
    if (room <= 0) {
        if (m_receiveFormat.codingType != 0) {
            room = 0;  // the owner reads first
        } else {
            DropReceivedAudio();
            room = std::max((m_framePartial ? m_bufferSize : m_receiveChunk) - m_receiveFill, 0);
        }
    }
    if (room > 0) {
        const int n = ws::recv(m_dataSocket, m_receive.data() + m_receiveFill, room);
        if (n > 0) {
            if (m_sendFormat.direction != DIRECTION_SEND_ONLY) m_receiveTimeout.Start(kTrafficTimeoutMs);
            m_receiveFill += n;
        } else if (n == 0) {
            PeerHungUp();
            return;
        } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
            FailAndListenAgain(WSAGetLastError());
            return;
        }
    }
    if (!m_controlType) SearchReceived();
    if (m_protocol == kProtocolPackets) return;
    if (!m_framePartial && !m_controlType && IsMpeg(m_receiveFormat.codingType) && m_receiveFill >= 4)
        AlignOnSyncWord();
}

void CTcpTransport::SearchReceived() {
    while (!m_controlType) {
        const ControlFrameMatch m = FindControlFrame(m_receive.data(), m_receiveFill, m_bufferSize);
        if (m_protocol == kProtocolUnknown) {
            // A peer speaking the packet protocol introduces itself with FF 10.
            const int end = m.status == ControlFrameMatch::None ? m_receiveFill : m.offset;
            const PeerPacketMatch peer = CStreamParser::FindPeerPacket(m_receive.data(), m_receiveFill, end, m_bufferSize);
            if (peer.status == PeerPacketMatch::Partial) {
                m_framePartial = 1;
                return;
            }
            if (peer.status == PeerPacketMatch::Found) {
                TakePeerPacket(peer.offset, peer.length);
                return;
            }
        }
        m_framePartial = m.status == ControlFrameMatch::Partial ? 1 : 0;
        if (m.status != ControlFrameMatch::Found) return;
        if (m_protocol == kProtocolUnknown) m_protocol = kProtocolFrames;
        std::memcpy(m_controlPayload.data(), &m_receive[m.offset + kControlHeaderBytes], static_cast<size_t>(m.length));
        CutReceived(m.offset, kControlHeaderBytes + m.length);
        if (m.type == CTRL_KEEPALIVE) continue;
        if (m.type == CTRL_FORMAT) {
            TakeFormatFrame(m_controlPayload.data(), m.length);
            continue;
        }
        m_controlType = m.type;
        m_controlLength = m.length;
    }
}

void CTcpTransport::TakePeerPacket(int offset, int length) {
    uint8_t block[kPeerBlockBytes] = {};
    std::memcpy(block, &m_receive[offset + 6], static_cast<size_t>(std::min(length, kPeerBlockBytes)));
    const StationIdentity id = StationIdentityFromPeerBlock(block);
    StoreStationIdentity(id, m_controlPayload.data());
    m_controlType = CTRL_PEERINFO;
    m_controlLength = static_cast<int>(kStationIdentityBytes);
    m_protocol = kProtocolPackets;
    m_receiveFill = 0;
    m_framePartial = 0;
}

void CTcpTransport::TakeFormatFrame(const uint8_t* payload, int length) {
    if (length < static_cast<int>(kAudioFormatBytes)) return;  // not a format: nothing to take
    AudioFormat f = LoadAudioFormat(payload);
    if (length >= kFormatFrameBytes && m_accepted) {
        m_buffering = LoadBufferingValues(payload + 76);
        m_haveBuffering = 1;
    }
    f.bitRate = DerivedBitRate(f);
    m_formatResend.Stop();
    TakeReceiveFormat(f);
}

void CTcpTransport::TakeReceiveFormat(const AudioFormat& f) {
    if (f.codingType == m_receiveFormat.codingType && f.bitRate == m_receiveFormat.bitRate &&
        f.sampleRate == m_receiveFormat.sampleRate && f.deviceMode == m_receiveFormat.deviceMode)
        return;
    m_receiveFormat = f;
    m_receiveFormat.direction = MirrorDirection(f.direction);
    m_receiveFormatChanged = 1;
    m_receiveChunk = ReceiveChunkFor(m_receiveFormat);
}

void CTcpTransport::ReceivePackets() {
    uint8_t chunk[CStreamParser::kInputBytes];
    int r = 0;
    int rounds = 0;
    do {
        const int room = m_parser.GetInputRoom();
        if (room > 0) {
            const int n = ws::recv(m_dataSocket, chunk, room);
            if (n > 0) {
                m_parser.Append(chunk, n);
            } else if (n == 0) {
                PeerHungUp();
                return;
            } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
                FailAndListenAgain(WSAGetLastError());
                return;
            }
        }
        r = m_parser.Parse();
    } while (r == 1 && ++rounds < 32);
    if (m_parser.IsFormatReady()) {
        AudioFormat f;
        m_parser.TakeFormat(&f);
        if (m_accepted) {
            m_buffering.connectionType = CONNTYPE_2;
            m_buffering.bufferingMode = BUFMODE_MEASURE_DELAY;
            m_haveBuffering = 1;
        }
        m_receiveFormat = f;
        m_receiveFormatChanged = 1;
        m_receiveChunk = ReceiveChunkFor(f);
    }
    if (!m_controlType && m_parser.IsPeerBlockReady()) {
        uint8_t block[kPeerBlockBytes];
        m_parser.TakePeerBlock(block);
        StoreStationIdentity(StationIdentityFromPeerBlock(block), m_controlPayload.data());
        m_controlType = CTRL_PEERINFO;
        m_controlLength = static_cast<int>(kStationIdentityBytes);
        if (m_localIdentity.buildDate[0] != '\0') {
            uint8_t packet[kPeerPacketBytes];
            BuildPeerPacket(m_localIdentity, packet);
            QueueWire(packet, kPeerPacketBytes);
        }
    }
    const int space = m_receiveChunk - m_receiveFill;
    if (space > 0) {
        const int n = m_parser.Read(m_receive.data() + m_receiveFill, space);
        if (n > 0) {
            m_receiveFill += n;
            if (m_sendFormat.direction != DIRECTION_SEND_ONLY) m_receiveTimeout.Start(kTrafficTimeoutMs);
        }
    }
}

void CTcpTransport::AlignOnSyncWord() {
    if (m_receive[0] == 0xFF && m_receive[1] >= 0xF0) return;
    int i = 0;
    while (i + 1 < m_receiveFill && !(m_receive[i] == 0xFF && m_receive[i + 1] >= 0xF0)) ++i;
    // Without a sync word a trailing 0xFF may still begin one.
    if (i + 1 >= m_receiveFill && m_receive[m_receiveFill - 1] != 0xFF) i = m_receiveFill;
    CutReceived(0, i);
}

void CTcpTransport::CutReceived(int offset, int bytes) {
    const int end = std::min(offset + bytes, m_receiveFill);
    std::memmove(&m_receive[offset], m_receive.data() + end, static_cast<size_t>(m_receiveFill - end));
    m_receiveFill -= end - offset;
}

int CTcpTransport::ReadAudio(uint8_t* dst, int len) {
    if (!dst || len <= 0) return 0;
    ReceiveStep();
    if (m_state != kStateConnected || m_controlType || m_framePartial) return 0;
    const int n = std::min(len, m_receiveFill);
    std::memcpy(dst, m_receive.data(), static_cast<size_t>(n));
    CutReceived(0, n);
    return n;
}

void CTcpTransport::FlushReceive() {
    if (m_protocol == kProtocolPackets) {
        m_receiveFill = 0;
        m_framePartial = 0;
        return;
    }
    DropReceivedAudio();
}

void CTcpTransport::DropReceivedAudio() {
    // Control frames are not audio: whole ones that wait behind a pending
    // frame, and the start of one still arriving, stay in order; only the
    // audio bytes around them go.
    int kept = 0;
    int from = 0;
    m_framePartial = 0;
    while (from < m_receiveFill) {
        const ControlFrameMatch m = FindControlFrame(m_receive.data() + from, m_receiveFill - from, m_bufferSize);
        if (m.status == ControlFrameMatch::None) break;
        const int start = from + m.offset;
        const int bytes =
            m.status == ControlFrameMatch::Found ? kControlHeaderBytes + m.length : m_receiveFill - start;
        std::memmove(&m_receive[kept], &m_receive[start], static_cast<size_t>(bytes));
        kept += bytes;
        from = start + bytes;
        if (m.status == ControlFrameMatch::Partial) m_framePartial = 1;
    }
    m_receiveFill = kept;
}

int CTcpTransport::GetReceiveAvailable() {
    ReceiveStep();
    if (m_state != kStateConnected || m_framePartial) return 0;
    return m_receiveFill;
}

void CTcpTransport::GetReceiveFormat(AudioFormat* format) {
    if (format) {
        *format = m_receiveFormat;
        format->aptxOption = 1;
    }
    m_receiveFormatChanged = 0;
}

void CTcpTransport::DiscardControl() {
    m_controlType = 0;
    m_controlLength = 0;
}

int CTcpTransport::ReadControl(void* dst, int len) {
    if (!m_controlType) return 0;
    if (dst && len > 0) {
        const int n = std::min(len, m_controlLength);
        std::memcpy(dst, m_controlPayload.data(), static_cast<size_t>(n));
        std::memset(static_cast<uint8_t*>(dst) + n, 0, static_cast<size_t>(len - n));
    }
    DiscardControl();
    return 1;
}

// ---------------------------------------------------------------- sending

void CTcpTransport::SetSendFormat(const AudioFormat* format) {
    m_sendFormat = format ? *format : AudioFormat();
    m_formatSent = 0;
    m_sendCapacity = CapacityFor(m_sendFormat);
    if (m_sendFill > m_sendCapacity) m_sendFill = 0;
    m_keepAlive.Stop();
    if (m_sendFormat.direction == DIRECTION_RECEIVE_ONLY) {
        // No audio will carry the announcement: it goes now, and keep-alives follow.
        if (m_state == kStateConnected && QueueFormatFrame()) DrainWire();
        m_keepAlive.Start(kKeepAliveMs);
    }
    if (m_state == kStateConnected) StartTimeouts(kTrafficTimeoutMs);
}

bool CTcpTransport::NeedFormatFrame() const {
    return !m_formatSent && m_protocol != kProtocolPackets &&
           (m_sendFormat.codingType != 0 || m_sendFormat.direction == DIRECTION_RECEIVE_ONLY);
}

bool CTcpTransport::QueueFormatFrame() {
    uint8_t payload[kFormatFrameBytes];
    StoreAudioFormat(m_sendFormat, payload);
    PutLe32(payload + 72, 1);
    StoreBufferingValues(m_buffering, payload + 76);
    uint8_t frame[kControlHeaderBytes + kFormatFrameBytes];
    const int n = BuildControlFrame(CTRL_FORMAT, payload, kFormatFrameBytes, frame, sizeof frame);
    if (!QueueWire(frame, n)) return false;
    m_formatSent = 1;
    if (m_receiveFormat.codingType == 0) m_formatResend.Start(kFormatResendMs);
    return true;
}

bool CTcpTransport::QueueWire(const uint8_t* data, int len) {
    if (len <= 0 || len > m_bufferSize - m_wireFill) return false;
    std::memcpy(m_wire.data() + m_wireFill, data, static_cast<size_t>(len));
    m_wireFill += len;
    return true;
}

// Sends what it can of the queued frames and packets. false when the
// connection failed and was closed.
bool CTcpTransport::DrainWire() {
    if (m_wireFill == 0 || m_dataSocket == INVALID_SOCKET) return m_state == kStateConnected;
    const int n = ws::send(m_dataSocket, m_wire.data(), m_wireFill);
    if (n > 0) {
        std::memmove(m_wire.data(), m_wire.data() + n, static_cast<size_t>(m_wireFill - n));
        m_wireFill -= n;
        if (m_sendFormat.direction != DIRECTION_RECEIVE_ONLY) m_sendTimeout.Start(kTrafficTimeoutMs);
        return true;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return true;
    SendFailed(n == 0 ? WSAECONNRESET : WSAGetLastError());
    return false;
}

void CTcpTransport::SendStep() {
    if (m_state != kStateConnected || m_dataSocket == INVALID_SOCKET) return;
    if (NeedFormatFrame()) QueueFormatFrame();
    if (!DrainWire() || m_wireFill > 0) return;
    if (m_protocol == kProtocolPackets)
        SendAudioPackets();
    else
        SendAudioStream();
}

void CTcpTransport::SendAudioStream() {
    if (m_sendFill == 0) return;
    // Audio is a plain byte stream: a partial send just leaves the rest, and a
    // control frame may follow at any byte.
    const int n = ws::send(m_dataSocket, m_send.data(), m_sendFill);
    if (n > 0) {
        std::memmove(m_send.data(), m_send.data() + n, static_cast<size_t>(m_sendFill - n));
        m_sendFill -= n;
        if (m_sendFormat.direction != DIRECTION_RECEIVE_ONLY) m_sendTimeout.Start(kTrafficTimeoutMs);
        return;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
    SendFailed(n == 0 ? WSAECONNRESET : WSAGetLastError());
}

void CTcpTransport::SendAudioPackets() {
    const AudioFormat& f = m_sendFormat;
    const int frameBytes = f.frameBytes;
    const AudioPacketLayout layout = AudioPacketLayoutFor(f);
    const int payload = layout.payload;
    // Audio this protocol cannot carry, or frames that cannot fit, would only
    // block the queue: they are dropped.
    if (payload <= 0 || payload > 0xFFFF || frameBytes > m_sendCapacity || layout.Total() > m_bufferSize) {
        m_sendFill = 0;
        return;
    }
    for (int rounds = 0; rounds < 64 && m_wireFill == 0 && m_sendFill >= frameBytes; ++rounds) {
        if (m_packetsToSkip > 0) {
            --m_packetsToSkip;
        } else {
            m_wireFill = WriteAudioPacket(layout, f, m_send.data(), m_wire.data());
        }
        std::memmove(m_send.data(), m_send.data() + payload, static_cast<size_t>(m_sendFill - payload));
        m_sendFill -= payload;
        if (!DrainWire()) return;
    }
}

int CTcpTransport::WriteAudio(const uint8_t* src, int len) {
    if (!src || len <= 0 || m_state != kStateConnected) return 0;
    if (NeedFormatFrame() && QueueFormatFrame() && !DrainWire()) return 0;
    if (len > m_sendCapacity - m_sendFill) return 0;
    std::memcpy(m_send.data() + m_sendFill, src, static_cast<size_t>(len));
    m_sendFill += len;
    return 1;
}

int CTcpTransport::GetSendSpace() {
    SendStep();
    return std::max(0, m_sendCapacity - m_sendFill);
}

int CTcpTransport::SendControl(int type, const void* data, int len) {
    if (len < 0 || (len > 0 && !data)) return 0;
    if (type == CTRL_PEERINFO) {
        uint8_t record[kStationIdentityBytes] = {};
        std::memcpy(record, data, std::min<size_t>(static_cast<size_t>(len), kStationIdentityBytes));
        m_localIdentity = LoadStationIdentity(record);
    }
    if (m_state != kStateConnected || m_dataSocket == INVALID_SOCKET) return 0;
    if (type == CTRL_PEERINFO && m_protocol == kProtocolPackets) {
        uint8_t packet[kPeerPacketBytes];
        BuildPeerPacket(m_localIdentity, packet);
        if (!QueueWire(packet, kPeerPacketBytes)) return 0;
        DrainWire();
        return 1;
    }
    const int room = m_bufferSize - m_wireFill;
    if (len > room - kControlHeaderBytes) return 0;
    const int n = BuildControlFrame(type, data, len, m_wire.data() + m_wireFill, room);
    if (n == 0) return 0;
    m_wireFill += n;
    DrainWire();
    return 1;
}
