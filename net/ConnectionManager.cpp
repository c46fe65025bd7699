#include "net/ConnectionManager.h"

#include <cstring>
#include <string>
#include <utility>

#include "common/Destination.h"
#include "common/SharedState.h"
#include "platform/ProcessInfo.h"
#include "platform/WinSockErrors.h"

namespace {
// Every word 0, the option word too: "no format given".
AudioFormat ZeroFormat() {
    AudioFormat f;
    f.aptxOption = 0;
    return f;
}
}  // namespace

CConnectionManager::CConnectionManager(CSettings settings) : m_settings(std::move(settings)) {}

// The TCP transport goes first: its destructor joins its connect worker.
CConnectionManager::~CConnectionManager() {
    m_active = nullptr;
    m_tcp.reset();
}

int CConnectionManager::Init(char* programFile, int fastCpu) {
    m_fastCpu = fastCpu;
    m_sendFormat = ZeroFormat();
    // The running program stands for the module the name would find.
    if (!programFile || programFile[0] == '\0') return 0;
    const int miniIsdn = g_sharedState ? g_sharedState->miniIsdn : m_settings.GetMiniISDNEnabled();
    if (!miniIsdn) CreateTcp();
    char path[kProgramPathBytes];
    if (GetProgramPath(path, sizeof path) == 0) return 0;
    std::memcpy(programFile, path, sizeof path);
    std::memcpy(m_programPath, path, sizeof path);
    SetState(CONN_IDLE);
    return 1;
}

int CConnectionManager::CreateTcp() {
    std::string address;
    std::string user;
    m_tcp = std::make_unique<CTcpTransport>();
    CTcpTransport& tcp = *m_tcp;
    m_settings.GetSocksAddress(address);
    if (!tcp.Init(m_settings.GetTCPBufferSize(), m_settings.GetSocksVersion(), address.c_str(),
                  m_settings.GetSocksPortNumber())) {
        m_tcp.reset();
        return 0;
    }
    if (m_settings.GetSocksNeedLogin()) {
        m_settings.GetSocksUsername(user);
        const std::string password = m_settings.GetSocksPassword();
        tcp.SetProxyLogin(user.c_str(), password.c_str());
    }
    if (!tcp.Open()) {
        m_tcp.reset();
        return 0;
    }
    m_mask |= TRANSPORT_TCP;
    return 1;
}

void CConnectionManager::SetState(int state) {
    if (state == m_state) return;
    const int previous = m_state;
    m_state = state;
    if (state == CONN_CONNECTED) {
        WritePeerAddress();
        m_infoChanged = 1;
        m_incoming = previous == CONN_IDLE ? 1 : 0;
    }
    m_stateChanged = 1;
}

void CConnectionManager::WritePeerAddress() {
    if (m_connection.kind == TRANSPORT_TCP && m_tcp) {
        char text[sizeof m_connection.address];
        if (m_tcp->GetPeerAddress(text, sizeof text)) std::memcpy(m_connection.address, text, sizeof text);
    }
}

int CConnectionManager::GetState() {
    m_stateChanged = 0;
    return m_state;
}

int CConnectionManager::GetConnectionInfo(ConnectionInfo* out) {
    if (m_stateChanged || (m_state != CONN_CONNECTING && m_state != CONN_CONNECTED)) return 0;
    if (out) *out = m_connection;
    m_active = TransportOfKind(m_connection.kind);
    m_infoChanged = 0;
    return 1;
}

CTransport* CConnectionManager::TransportOfKind(int kind) {
    if (kind == TRANSPORT_TCP) return m_tcp.get();
    return nullptr;
}

int CConnectionManager::GetLastError(int kind) {
    if (const int refusal = m_refusal) {
        m_refusal = 0;
        return refusal;
    }
    const int k = m_connection.kind ? m_connection.kind : kind;
    if (k == TRANSPORT_TCP && m_tcp) return m_tcp->GetLastError();
    // Without a connection or a kind, the one transport there is answers.
    if (k == 0 && m_tcp) return m_tcp->GetLastError();
    return 0;
}

void CConnectionManager::SetSendFormat(const AudioFormat* format) {
    m_sendFormat = format ? *format : AudioFormat();
    if (m_active) m_active->SetSendFormat(&m_sendFormat);
}

void CConnectionManager::GetReceiveFormat(AudioFormat* format) {
    if (m_active) m_active->GetReceiveFormat(format);
}

int CConnectionManager::IsReceiveFormatChanged() { return m_active ? m_active->IsReceiveFormatChanged() : 0; }

void CConnectionManager::SetBuffering(int connectionType, int bufferingMode, int bufferMs) {
    if (m_connection.kind == TRANSPORT_TCP && m_tcp) m_tcp->SetBuffering(connectionType, bufferingMode, bufferMs);
}

int CConnectionManager::GetBuffering(int* connectionType, int* bufferingMode, int* bufferMs) {
    if (m_connection.kind != TRANSPORT_TCP || !m_tcp) return 0;
    return m_tcp->GetBuffering(connectionType, bufferingMode, bufferMs);
}

int CConnectionManager::GetControlType() { return m_active ? m_active->GetControlType() : 0; }
int CConnectionManager::GetControlLength() { return m_active ? m_active->GetControlLength() : 0; }
void CConnectionManager::DiscardControl() {
    if (m_active) m_active->DiscardControl();
}
int CConnectionManager::ReadControl(void* dst, int len) { return m_active ? m_active->ReadControl(dst, len) : 0; }
int CConnectionManager::SendControl(int type, const void* data, int len) {
    return m_active ? m_active->SendControl(type, data, len) : 0;
}
int CConnectionManager::GetReceiveAvailable() { return m_active ? m_active->GetReceiveAvailable() : 0; }
void CConnectionManager::FlushReceive() {
    if (m_active) m_active->FlushReceive();
}
int CConnectionManager::ReadAudio(uint8_t* dst, int len) { return m_active ? m_active->ReadAudio(dst, len) : 0; }
int CConnectionManager::GetSendSpace() { return m_active ? m_active->GetSendSpace() : 0; }
void CConnectionManager::DiscardSendData() {
    if (m_active) m_active->DiscardSendData();
}
int CConnectionManager::WriteAudio(const uint8_t* src, int len) {
    return m_active ? m_active->WriteAudio(src, len) : 0;
}

int CConnectionManager::Connect(const ConnectionInfo* connection) {
    if (!connection || m_state != CONN_IDLE) return 0;
    const int kind = connection->kind;
    if ((static_cast<uint32_t>(kind) & m_mask) == 0) return 0;
    int started = 0;
    m_refusal = 0;
    if (!IsValidDestination(*connection)) {
        // Refused before any transport is touched: the listener keeps listening.
        m_refusal = ws::WSAEINVAL;
    } else if (kind == TRANSPORT_TCP && m_tcp) {
        char address[sizeof connection->address + 1] = {};
        std::memcpy(address, connection->address, sizeof connection->address);
        started = m_tcp->Connect(address, connection->port, connection->flag);
    }
    if (!started) {
        SetState(CONN_FAILED);
        return 0;
    }
    m_connection = *connection;
    KeepTransport(kind);
    SetState(CONN_CONNECTING);
    m_incoming = 0;
    return 1;
}

void CConnectionManager::KeepTransport(int kind) {
    // The other transports would be destroyed here; TCP is the only one yet.
    m_active = TransportOfKind(kind);
    m_connection.kind = kind;
}

void CConnectionManager::CloseIpTransports() {
    if (m_tcp) m_tcp->Close();
}

int CConnectionManager::StartListening() {
    if (m_tcp && m_settings.GetTCPAnswerAcceptCalls()) m_tcp->Listen(m_settings.GetTCPPortNumber());
    return 0;
}

int CConnectionManager::Disconnect() {
    if (m_state != CONN_CONNECTING && m_state != CONN_CONNECTED) return m_state;
    if (m_connection.kind == TRANSPORT_TCP && m_tcp) m_tcp->Close();
    m_active = nullptr;
    m_connection = ConnectionInfo();
    m_sendFormat = ZeroFormat();
    SetState(CONN_IDLE);
    return m_state;
}

void CConnectionManager::ClearFailure() {
    if (m_state == CONN_FAILED) SetState(CONN_IDLE);
}

void CConnectionManager::Poll() {
    if (!m_tcp || (m_connection.kind != 0 && m_connection.kind != TRANSPORT_TCP)) return;
    m_tcp->Poll();
    if (!m_tcp->IsStateChanged()) return;
    int s = m_tcp->GetState() & 0xF0;
    if (s != m_state) {
        // An outgoing attempt that falls back to idle before it connected is
        // a failed connect, whether it failed at once or on completion.
        if (s == CONN_IDLE && m_state == CONN_CONNECTING) s = CONN_FAILED;
        if (s == CONN_CONNECTING || s == CONN_CONNECTED) KeepTransport(TRANSPORT_TCP);
        SetState(s);
    } else if (s == CONN_CONNECTED) {
        WritePeerAddress();
        m_infoChanged = 1;
    }
}
