#include "call/RIP.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "call/RipEncoderRules.h"
#include "call/RipProtocol.h"
#include "common/ByteOrder.h"
#include "common/Destination.h"
#include "common/MainWindowMessages.h"

namespace {
constexpr uint32_t kPartialReadMs = 1000;
// A control application that stops reading is dropped rather than buffered for ever.
constexpr size_t kMaxQueuedBytes = 256 * 1024;
constexpr char kLogFile[] = "Velmora RIP.Log";

void PutText(uint8_t* out, size_t width, const char* text) {
    std::memset(out, 0, width);
    std::memcpy(out, text, strnlen(text, width - 1));
}
}  // namespace

CRIP::CRIP() { m_encoderFormat.aptxOption = 0; m_decoderFormat.aptxOption = 0; }

CRIP::~CRIP() {
    if (m_control != ws::INVALID_SOCKET) CloseInSocket();
    if (m_listen != ws::INVALID_SOCKET) ws::closesocket(m_listen);
    if (m_started) ws::WSACleanup();
}

void CRIP::SetError(int code) {
    m_lastError = code;
    WriteLog("CRIP.SetError() setting %d (0x%x)", code, code);
}

void CRIP::WriteLog(const char* format, ...) {
    if (!m_debug) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16];
    char time[16];
    std::strftime(date, sizeof date, "%m/%d/%y", &local);
    std::strftime(time, sizeof time, "%H:%M:%S", &local);
    if (std::FILE* log = std::fopen(kLogFile, "ab")) {
        std::fprintf(log, "%s %s\t%s%c%c", date, time, text, '\r', '\n');
        std::fclose(log);
    }
}

int CRIP::Init(HWND mainWindow, int port) {
    // Read first, so that a failing start is logged too.
    m_debug = m_settings.GetOptionsDebug();
    if (ws::WSAStartup(0x0202) != 0) {
        SetError(ws::WSAGetLastError());
        WriteLog("CRIP.Init: Startup of sockets failed!");
        return 0;
    }
    m_started = true;
    m_port = port;
    if (!OpenMainSocket()) return 0;
    m_mainWindow = mainWindow;
    WriteLog("%s", "");
    WriteLog("%s", "");
    WriteLog("CRIP.Init: Using the protocol on port: %d!", port);
    return 1;
}

int CRIP::OpenMainSocket() {
    if (m_listen != ws::INVALID_SOCKET) {
        WriteLog("CRIP.OpenMainSocket: Already open!");
        return 0;
    }
    const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
    if (s == ws::INVALID_SOCKET) {
        SetError(ws::WSAGetLastError());
        WriteLog("CRIP.OpenMainSocket: Unable to create socket!");
        return 0;
    }
    const char* failure = nullptr;
    if (ws::SetNonBlocking(s, true) == ws::SOCKET_ERROR) {
        failure = "CRIP.OpenMainSocket: Unable to forbid blocking on socket!";
    } else if (ws::bind(s, ws::SocketAddress{ws::kAddressAny, static_cast<uint16_t>(m_port)}) == ws::SOCKET_ERROR) {
        failure = "CRIP.OpenMainSocket: Unable to bind socket!";
    } else if (ws::listen(s, 0) == ws::SOCKET_ERROR) {
        failure = "CRIP.OpenMainSocket: Unable to listen to socket!";
    }
    if (failure) {
        SetError(ws::WSAGetLastError());
        WriteLog("%s", failure);
        ws::closesocket(s);
        return 0;
    }
    m_listen = s;
    return 1;
}

void CRIP::SetAvailableTransports(uint32_t mask) {
    m_allowedMedia = 0;
    if (mask & TRANSPORT_ISDN) m_allowedMedia |= RIP_MEDIA_ISDN;
    if (mask & TRANSPORT_TCP) m_allowedMedia |= RIP_MEDIA_NETWORK;
    if (mask & TRANSPORT_MULTICAST) m_allowedMedia |= RIP_MEDIA_MULTICAST;
}

void CRIP::Poll() {
    if (m_listen == ws::INVALID_SOCKET) return;
    if (m_control == ws::INVALID_SOCKET) {
        ActivateListen();
        return;
    }
    FlushSendQueue();
    if (m_control != ws::INVALID_SOCKET) RecvMessage();
}

int CRIP::PollBandwidthAnswer() {
    Poll();
    const int answer = m_bandwidthAnswer;
    m_bandwidthAnswer = 0;
    return answer;
}

void CRIP::ActivateListen() {
    const ws::SOCKET s = ws::accept(m_listen, nullptr);
    if (s == ws::INVALID_SOCKET) return;  // nobody waiting
    m_control = s;
    if (ws::SetNoDelay(s, true) == ws::SOCKET_ERROR) {
        WriteLog("CNetRIP.ActivateListen: Unable to forbid naggling on socket!");
    }
    m_headerPending = false;
    m_pieceWanted = m_pieceGot = 0;
    m_partialRead.Stop();
    m_sendQueue.clear();
    WriteLog("CRIP.ActivateListen: Connected to a control application!");
    SendStoredState();
    if (m_callState > 16) {
        SendStoredConnection();
        SendFormat(RIP_CMD_ENCODER_FORMAT, m_encoderFormat, DIRECTION_RECEIVE_ONLY);
        SendFormat(RIP_CMD_DECODER_FORMAT, m_decoderFormat, DIRECTION_SEND_ONLY);
        SendStoredRemoteIdentity();
    }
}

void CRIP::StartPiece(uint32_t wanted) {
    m_pieceWanted = wanted;
    m_pieceGot = 0;
}

bool CRIP::RecvPiece() {
    while (m_pieceGot < m_pieceWanted) {
        uint8_t scratch[1024];
        const uint32_t left = m_pieceWanted - m_pieceGot;
        const bool keep = m_pieceGot < sizeof m_piece;
        uint8_t* dst = keep ? m_piece + m_pieceGot : scratch;
        const uint32_t room = keep ? static_cast<uint32_t>(sizeof m_piece) - m_pieceGot : sizeof scratch;
        const int n = ws::recv(m_control, dst, static_cast<int>(left < room ? left : room));
        if (n > 0) {
            WriteLog("CRIP.RecvInSocket: Recv %d bytes", n);
            m_pieceGot += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0) {
            WriteLog("CRIP.RecvInSocket: Connection gone!");
            CloseInSocket();
            return false;
        }
        const int err = ws::WSAGetLastError();
        if (err != ws::WSAEWOULDBLOCK) {
            SetError(err);
            WriteLog("CRIP.RecvInSocket: Recv error! Closing socket...");
            CloseInSocket();
            return false;
        }
        // Part of a message is here: the rest gets a second to follow.
        if (m_pieceGot > 0 || m_headerPending) {
            if (!m_partialRead.IsRunning()) m_partialRead.Start(kPartialReadMs);
            if (m_partialRead.IsExpired()) {
                WriteLog("CRIP.RecvInSocket: TimeOut while reading!");
                m_partialRead.Stop();
                m_headerPending = false;
                m_pieceWanted = m_pieceGot = 0;
            }
        }
        return false;
    }
    m_partialRead.Stop();
    return true;
}

void CRIP::RecvMessage() {
    if (!m_headerPending) {
        if (m_pieceWanted == 0) StartPiece(kRipHeaderBytes);
        if (!RecvPiece()) return;
        m_pendingCommand = GetLe32(m_piece);
        m_pendingBodySize = GetLe32(m_piece + 4);
        m_headerPending = true;
        WriteLog("CRIP.RecvMessage: Got header: Command 0x%08x - BodySize: 0x%08x (%d bytes)", m_pendingCommand,
                 m_pendingBodySize, static_cast<int>(m_pendingBodySize));
        if (m_pendingBodySize == 0) {
            m_headerPending = false;
            m_pieceWanted = m_pieceGot = 0;
            Dispatch(m_pendingCommand, nullptr, 0);
            return;
        }
        StartPiece(m_pendingBodySize);
    }
    if (!RecvPiece()) return;
    const uint32_t kept = m_pieceGot < sizeof m_piece ? m_pieceGot : static_cast<uint32_t>(sizeof m_piece);
    m_headerPending = false;
    m_pieceWanted = m_pieceGot = 0;
    Dispatch(m_pendingCommand, m_piece, kept);
}

void CRIP::Dispatch(uint32_t command, const uint8_t* body, uint32_t size) {
    switch (command) {
    case RIP_CMD_PROTOCOL_ERROR: RecvProtocolError(body, size); break;
    case RIP_CMD_IDENTITY: SendIdentity(); break;
    case RIP_CMD_MAKE_CONNECTION: RecvMakeConection(body, size); break;
    case RIP_CMD_STOP_CONNECTION:
        WriteLog("CRIP.RecvStopConection()");
        if (m_mainWindow) ::SendMessage(m_mainWindow, WM_RIP_DISCONNECT, 0, 0);
        break;
    case RIP_CMD_SET_ENCODER: RecvSetEncoder(body, size); break;
    case RIP_CMD_ANSWER_SETTINGS: RecvAnswerSettings(body, size); break;
    case RIP_CMD_STATE: SendStoredState(); break;
    case RIP_CMD_CONNECTION_INFO: SendStoredConnection(); break;
    case RIP_CMD_REMOTE_IDENTITY: SendStoredRemoteIdentity(); break;
    case RIP_CMD_ENCODER_FORMAT: SendFormat(RIP_CMD_ENCODER_FORMAT, m_encoderFormat, DIRECTION_RECEIVE_ONLY); break;
    case RIP_CMD_DECODER_FORMAT: SendFormat(RIP_CMD_DECODER_FORMAT, m_decoderFormat, DIRECTION_SEND_ONLY); break;
    case RIP_CMD_BANDWIDTH_INFO: RecvBandwidthInfo(body, size); break;
    default: SendProtocolError(command, RIP_REASON_UNKNOWN); break;
    }
}

void CRIP::RecvProtocolError(const uint8_t* body, uint32_t size) {
    if (size < 8) {
        WriteLog("CRIP.RecvProtocolError: Error with no body!");
        return;
    }
    WriteLog("CRIP.RecvProtocolError: ID 0x%05x, Reason 0x%04x", GetLe32(body), GetLe32(body + 4));
}

bool CRIP::CheckEncoder(bool ok, const char* name) {
    if (ok) return true;
    WriteLog("CRIP.Check%sEncoder: wrong codingtype: 0x%02x!", name, m_encoderFormat.codingType);
    SendMessageError(RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
    return false;
}

void CRIP::RecvMakeConection(const uint8_t* body, uint32_t size) {
    WriteLog("CRIP.RecvMakeConection()");
    if (size < 4) {
        WriteLog("CRIP.RecvMakeConection: No body!");
        SendProtocolError(RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
        return;
    }
    const uint32_t media = GetLe32(body);
    const bool known = media == RIP_MEDIA_NETWORK || media == RIP_MEDIA_ISDN || media == RIP_MEDIA_MULTICAST;
    if (!known || (m_allowedMedia & media) != media) {
        WriteLog("CRIP.RecvMakeConection: Unknown media type: 0x%08x!", media);
        SendMessageError(RIP_CMD_MAKE_CONNECTION, RIP_REASON_UNKNOWN);
        return;
    }
    const uint32_t needed = media == RIP_MEDIA_NETWORK ? kRipNetworkRequestBytes
                            : media == RIP_MEDIA_ISDN  ? kRipIsdnRequestBytes
                                                       : kRipMulticastRequestBytes;
    if (size < needed) {
        WriteLog("CRIP.RecvMakeConection: No body!");
        SendProtocolError(RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
        return;
    }
    // The fields are taken as sent and checked before anything else: a
    // destination no transport could dial never reaches the main window.
    ConnectionInfo dest;
    if (media == RIP_MEDIA_ISDN) {
        dest.kind = TRANSPORT_ISDN;
        std::memcpy(dest.isdn.number1, body + 4, sizeof dest.isdn.number1);
        std::memcpy(dest.isdn.number2, body + 44, sizeof dest.isdn.number2);
    } else {
        dest.kind = media == RIP_MEDIA_NETWORK ? TRANSPORT_TCP : TRANSPORT_MULTICAST;
        std::memcpy(dest.address, body + 4, sizeof dest.address);
        dest.port = GetLe32s(body + 84);
        dest.connectionType = GetLe32s(body + 88);
        dest.bufferingMode = GetLe32s(body + 92);
    }
    if (!IsValidDestination(dest)) {
        WriteLog("CRIP.RecvMakeConection: Bad destination!");
        SendMessageError(RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
        return;
    }
    if (media == RIP_MEDIA_NETWORK) {
        if (!CheckEncoder(CheckTCPEncoder(&m_encoderFormat), "TCP")) return;
        dest.flag = GetLe32s(body + 96);
        const int32_t direction = GetLe32s(body + 100);
        // Anything but the two one-way codes means both ways, not the last call's choice.
        m_encoderFormat.direction =
            (direction == DIRECTION_SEND_ONLY || direction == DIRECTION_RECEIVE_ONLY) ? direction : DIRECTION_BOTH;
    } else if (media == RIP_MEDIA_ISDN) {
        if (!CheckEncoder(CheckISDNEncoder(&m_encoderFormat), "ISDN")) return;
    } else {
        const bool sender = GetLe32(body + 96) == 16;
        if (sender && !CheckEncoder(CheckTCPEncoder(&m_encoderFormat), "UDP")) return;
        dest.flag = sender ? 1 : 0;
        m_encoderFormat.direction = sender ? DIRECTION_SEND_ONLY : DIRECTION_RECEIVE_ONLY;
    }
    m_destination = dest;
    if (m_mainWindow) ::SendMessage(m_mainWindow, WM_RIP_CONNECT, 0, 0);
}

void CRIP::RecvSetEncoder(const uint8_t* body, uint32_t size) {
    WriteLog("CRIP.RecvSetEncoder()");
    if (size < static_cast<uint32_t>(kRipEncoderRequestBytes)) {
        WriteLog("CRIP.RecvSetEncoder: No body!");
        SendProtocolError(RIP_CMD_SET_ENCODER, RIP_REASON_BAD_BODY);
        return;
    }
    const int coding = GetLe32s(body);
    if (!MakeRequestedEncoder(coding, GetLe32s(body + 4), GetLe32s(body + 8), GetLe32s(body + 12),
                              &m_encoderFormat)) {
        WriteLog("CRIP.RecvSetEncoder: Unknown CodingType: 0x%08x!", static_cast<uint32_t>(coding));
        SendMessageError(RIP_CMD_SET_ENCODER, RIP_REASON_BAD_BODY);
    }
}

void CRIP::RecvAnswerSettings(const uint8_t* body, uint32_t size) {
    if (size == 0) {
        uint8_t reply[8];
        uint32_t accept = 0;
        if (m_settings.GetTCPAnswerAcceptCalls()) accept |= RIP_MEDIA_NETWORK;
        if (m_settings.GetISDNAnswerAcceptCalls()) accept |= RIP_MEDIA_ISDN;
        PutLe32(reply, m_allowedMedia);
        PutLe32(reply + 4, accept);
        SendMessage(RIP_CMD_ANSWER_SETTINGS, reply, sizeof reply);
        return;
    }
    if (size < 8) {
        SendProtocolError(RIP_CMD_ANSWER_SETTINGS, RIP_REASON_BAD_BODY);
        return;
    }
    const uint32_t accept = GetLe32(body + 4);
    m_settings.SetISDNAnswerAcceptCalls((accept & RIP_MEDIA_ISDN) != 0 ? 1 : 0);
    m_settings.SetTCPAnswerAcceptCalls((accept & RIP_MEDIA_NETWORK) != 0 ? 1 : 0);
    if (m_mainWindow) ::SendMessage(m_mainWindow, WM_RIP_ANSWER_SETTINGS, 0, 0);
}

void CRIP::RecvBandwidthInfo(const uint8_t* body, uint32_t size) {
    if (size < 4) {
        WriteLog("CRIP.RecvBandwidthInfo: No body!");
        SendProtocolError(RIP_CMD_BANDWIDTH_INFO, RIP_REASON_BAD_BODY);
        return;
    }
    m_bandwidthAnswer = GetLe32s(body);
}

void CRIP::SendMessage(uint32_t command, const void* body, uint32_t size) {
    if (m_control == ws::INVALID_SOCKET) return;
    WriteLog("CRIP.SendMessage: Command 0x%08x - BodySize: 0x%08x (%d bytes)", command, size,
             static_cast<int>(size));
    if (m_sendQueue.size() + kRipHeaderBytes + size > kMaxQueuedBytes) {
        WriteLog("CRIP.SendMessage: Unable to send header!");
        CloseInSocket();
        return;
    }
    uint8_t header[kRipHeaderBytes];
    PutLe32(header, command);
    PutLe32(header + 4, size);
    m_sendQueue.insert(m_sendQueue.end(), header, header + sizeof header);
    const auto* bytes = static_cast<const uint8_t*>(body);
    if (size) m_sendQueue.insert(m_sendQueue.end(), bytes, bytes + size);
    FlushSendQueue();
}

void CRIP::FlushSendQueue() {
    size_t sent = 0;
    while (m_control != ws::INVALID_SOCKET && sent < m_sendQueue.size()) {
        const int n = ws::send(m_control, m_sendQueue.data() + sent, static_cast<int>(m_sendQueue.size() - sent));
        if (n > 0) {
            WriteLog("CRIP.SendInSocket: Sending %d bytes", n);
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            WriteLog("CRIP.SendInSocket: Connection gone!");
        } else {
            const int err = ws::WSAGetLastError();
            if (err == ws::WSAEWOULDBLOCK) break;  // the rest goes on the next pass
            SetError(err);
            WriteLog("CRIP.SendInSocket: Send error! Closing socket...");
        }
        CloseInSocket();
        return;
    }
    m_sendQueue.erase(m_sendQueue.begin(), m_sendQueue.begin() + static_cast<std::ptrdiff_t>(sent));
}

void CRIP::CloseInSocket() {
    if (m_control == ws::INVALID_SOCKET) return;
    ws::closesocket(m_control);
    m_control = ws::INVALID_SOCKET;
    m_sendQueue.clear();
    m_headerPending = false;
    m_pieceWanted = m_pieceGot = 0;
    m_partialRead.Stop();
    WriteLog("CRIP.CloseInSocket: Control application disconnected!");
}

void CRIP::SendProtocolError(uint32_t command, uint32_t reason) {
    WriteLog("CRIP.SendProtocolError: ID 0x%05x, Reason 0x%04x", command, reason);
    uint8_t body[8];
    PutLe32(body, command);
    PutLe32(body + 4, reason);
    SendMessage(RIP_CMD_PROTOCOL_ERROR, body, sizeof body);
}

void CRIP::SendMessageError(uint32_t command, uint32_t reason) {
    WriteLog("CRIP.SendMessageError: ID %05x, Reason %04x", command, reason);
    uint8_t body[8];
    PutLe32(body, command);
    PutLe32(body + 4, reason);
    SendMessage(RIP_CMD_MESSAGE_ERROR, body, sizeof body);
}

void CRIP::SendIdentity() {
    uint8_t body[kRipIdentityBytes];
    PutLe16(body, 1);
    PutLe16(body + 2, 1);
    PutText(body + 4, 20, "Velmora");
    PutText(body + 24, 25, "Transvoria");
    PutText(body + 49, 10, "V1.5b");
    PutText(body + 59, 15, "20-Jan-2010");
    SendMessage(RIP_CMD_IDENTITY, body, sizeof body);
}

void CRIP::SendStoredState() {
    uint8_t body[4];
    PutLe32(body, static_cast<uint32_t>(m_callState));
    SendMessage(RIP_CMD_STATE, body, sizeof body);
}

void CRIP::SendStoredConnection() {
    uint8_t body[kRipNetworkRequestBytes] = {};
    const ConnectionInfo& c = m_destination;
    uint32_t size = kRipNetworkRequestBytes;
    if (c.kind == TRANSPORT_ISDN) {
        size = kRipIsdnRequestBytes;
        PutLe32(body, RIP_MEDIA_ISDN);
        PutText(body + 4, 40, c.isdn.number1);
        PutText(body + 44, 40, c.isdn.number2);
    } else if (c.kind == TRANSPORT_MULTICAST) {
        size = kRipMulticastRequestBytes;
        PutLe32(body, RIP_MEDIA_MULTICAST);
        PutText(body + 4, 80, c.address);
        PutLe32(body + 84, static_cast<uint32_t>(c.port));
        if (!c.flag) {  // type and buffering matter only to receivers
            PutLe32(body + 88, static_cast<uint32_t>(c.connectionType));
            PutLe32(body + 92, static_cast<uint32_t>(c.bufferingMode));
        }
        PutLe32(body + 96, c.flag ? 16 : 32);
    } else {
        PutLe32(body, c.kind == TRANSPORT_TCP ? RIP_MEDIA_NETWORK : 0);
        PutText(body + 4, 80, c.address);
        PutLe32(body + 84, static_cast<uint32_t>(c.port));
        PutLe32(body + 88, static_cast<uint32_t>(c.connectionType));
        PutLe32(body + 92, static_cast<uint32_t>(c.bufferingMode));
        PutLe32(body + 96, static_cast<uint32_t>(c.flag));
    }
    SendMessage(RIP_CMD_CONNECTION_INFO, body, size);
}

void CRIP::SendStoredRemoteIdentity() {
    uint8_t body[kRipRemoteIdentityBytes];
    PutText(body, 40, m_peerIdentity.stationName);
    PutText(body + 40, 20, m_peerIdentity.productName);
    PutText(body + 60, 25, m_peerIdentity.editionName);
    PutText(body + 85, 7, m_peerIdentity.versionText);  // six characters
    std::memset(body + 92, 0, 3);
    PutText(body + 95, 15, m_peerIdentity.buildDate);
    SendMessage(RIP_CMD_REMOTE_IDENTITY, body, sizeof body);
}

void CRIP::SendFormat(uint32_t command, const AudioFormat& f, int emptyDirection) {
    uint8_t body[16] = {};
    if (f.direction != emptyDirection) {
        PutLe32(body, static_cast<uint32_t>(f.codingType));
        PutLe32(body + 4, static_cast<uint32_t>(f.bitRate));
        PutLe32(body + 8, static_cast<uint32_t>(f.sampleRate));
        PutLe32(body + 12, static_cast<uint32_t>(f.deviceMode));
    }
    SendMessage(command, body, sizeof body);
}

void CRIP::SendState(int callState) {
    if (callState == m_callState) return;
    m_callState = callState;
    SendStoredState();
}

void CRIP::SetConnectionInfo(const ConnectionInfo& info) {
    m_destination = info;
    SendStoredConnection();
}

int CRIP::SendBandwidthInfo(uint32_t first, uint32_t neededBitRate, uint32_t measuredBitRate) {
    if (m_control == ws::INVALID_SOCKET) return -1;
    uint8_t body[12];
    PutLe32(body, first);
    PutLe32(body + 4, neededBitRate);
    PutLe32(body + 8, measuredBitRate);
    SendMessage(RIP_CMD_BANDWIDTH_INFO, body, sizeof body);
    return 1;
}

void CRIP::SetRemoteIdentity(const StationIdentity& identity) {
    m_peerIdentity = identity;
    SendStoredRemoteIdentity();
}

void CRIP::SetEncoderFormat(const AudioFormat& format) {
    m_encoderFormat = format;
    SendFormat(RIP_CMD_ENCODER_FORMAT, m_encoderFormat, DIRECTION_RECEIVE_ONLY);
}

void CRIP::SetDecoderFormat(const AudioFormat& format) {
    m_decoderFormat = format;
    SendFormat(RIP_CMD_DECODER_FORMAT, m_decoderFormat, DIRECTION_SEND_ONLY);
}

void CRIP::SendConnectionError(uint32_t kind, uint32_t code, const char* text) {
    uint8_t body[kRipConnectionErrorBytes];
    PutLe32(body, kind);
    PutLe32(body + 4, code);
    PutText(body + 8, 80, text ? text : "");
    SendMessage(RIP_CMD_CONNECTION_ERROR, body, sizeof body);
}
