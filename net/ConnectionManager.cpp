#include "net/ConnectionManager.h"

#include <cstring>
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

CConnectionManager::CConnectionManager(CSettings settings, std::span<const TransportRegistration> transports)
    : m_settings(std::move(settings)), m_registrations(transports) {}

// In registration order (TCP first): the TCP transport's destructor joins
// its connect worker.
CConnectionManager::~CConnectionManager() {
    m_active = nullptr;
    DestroyTransports();
}

void CConnectionManager::DestroyTransports() {
    for (Slot& slot : m_transports) slot.transport.reset();
    m_transports.clear();
}

int CConnectionManager::Init(char* programFile, int fastCpu) {
    m_fastCpu = fastCpu;
    m_sendFormat = ZeroFormat();
    // The running program stands for the module the name would find.
    if (!programFile || programFile[0] == '\0') return 0;
    const int miniIsdn = g_sharedState ? g_sharedState->miniIsdn : m_settings.GetMiniISDNEnabled();
    for (const TransportRegistration& row : m_registrations) {
        if (miniIsdn && !row.offeredWithMiniIsdn) continue;
        std::unique_ptr<CManagedTransport> t = row.create(m_settings, fastCpu);
        if (!t) continue;
        m_transports.push_back(Slot{row.kind, std::move(t)});
        m_mask |= static_cast<uint32_t>(row.kind);
    }
    char path[kProgramPathBytes];
    if (GetProgramPath(path, sizeof path) == 0) return 0;
    std::memcpy(programFile, path, sizeof path);
    std::memcpy(m_programPath, path, sizeof path);
    SetState(CONN_IDLE);
    return 1;
}

CManagedTransport* CConnectionManager::GetTransport(int kind) {
    for (Slot& slot : m_transports) {
        if (slot.kind == kind) return slot.transport.get();
    }
    return nullptr;
}

CManagedTransport* CConnectionManager::CurrentOr(int kind) {
    const int k = m_connection.kind ? m_connection.kind : kind;
    if (k != 0) return GetTransport(k);
    // Without a connection or a kind, the first transport there is answers.
    return m_transports.empty() ? nullptr : m_transports.front().transport.get();
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
    CManagedTransport* t = m_connection.kind ? GetTransport(m_connection.kind) : nullptr;
    if (!t) return;
    char text[sizeof m_connection.address];
    if (t->GetPeerAddress(text, sizeof text)) std::memcpy(m_connection.address, text, sizeof text);
}

int CConnectionManager::GetState() {
    m_stateChanged = 0;
    return m_state;
}

int CConnectionManager::GetConnectionInfo(ConnectionInfo* out) {
    if (m_stateChanged || (m_state != CONN_CONNECTING && m_state != CONN_CONNECTED)) return 0;
    if (out) *out = m_connection;
    m_active = GetTransport(m_connection.kind);
    m_infoChanged = 0;
    return 1;
}

int CConnectionManager::GetLastError(int kind) {
    if (const int refusal = m_refusal) {
        m_refusal = 0;
        return refusal;
    }
    CManagedTransport* t = CurrentOr(kind);
    return t ? t->GetLastError() : 0;
}

int CConnectionManager::IsIsdnSendStarved() {
    if (m_connection.kind != TRANSPORT_ISDN) return 0;
    CManagedTransport* t = GetTransport(TRANSPORT_ISDN);
    return t ? t->IsSendStarved() : 0;
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
    if (CManagedTransport* t = m_connection.kind ? GetTransport(m_connection.kind) : nullptr)
        t->SetBuffering(connectionType, bufferingMode, bufferMs);
}

int CConnectionManager::GetBuffering(int* connectionType, int* bufferingMode, int* bufferMs) {
    CManagedTransport* t = m_connection.kind ? GetTransport(m_connection.kind) : nullptr;
    return t ? t->GetBuffering(connectionType, bufferingMode, bufferMs) : 0;
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
    m_refusal = 0;
    if (!IsValidDestination(*connection)) {
        // Refused before any transport is touched: the listener keeps listening.
        m_refusal = ws::WSAEINVAL;
        SetState(CONN_FAILED);
        return 0;
    }
    CManagedTransport* t = GetTransport(kind);
    if (!t || !t->Start(*connection, m_sendFormat)) {
        SetState(CONN_FAILED);
        return 0;
    }
    m_connection = *connection;
    KeepTransport(kind);
    SetState(CONN_CONNECTING);
    m_incoming = 0;
    return 1;
}

// Until the manager is rebuilt, only the transport of the connection exists.
void CConnectionManager::KeepTransport(int kind) {
    for (Slot& slot : m_transports) {
        if (slot.kind != kind) slot.transport.reset();
    }
    std::erase_if(m_transports, [](const Slot& slot) { return !slot.transport; });
    m_active = GetTransport(kind);
    m_connection.kind = kind;
}

void CConnectionManager::CloseIpTransports() {
    for (Slot& slot : m_transports) slot.transport->CloseIpSockets();
}

int CConnectionManager::StartListening() {
    int result = 0;
    for (Slot& slot : m_transports) {
        const int r = slot.transport->StartListening(m_settings);
        if (r) result = r;
    }
    return result;
}

int CConnectionManager::Disconnect() {
    if (m_state != CONN_CONNECTING && m_state != CONN_CONNECTED) return m_state;
    if (CManagedTransport* t = GetTransport(m_connection.kind)) t->HangUpConnection();
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
    // KeepTransport may destroy slots: poll by kind, not by iterator.
    int kinds[8] = {};
    int count = 0;
    for (const Slot& slot : m_transports) {
        if (count < 8) kinds[count++] = slot.kind;
    }
    for (int i = 0; i < count; ++i) {
        const int kind = kinds[i];
        if (m_connection.kind != 0 && m_connection.kind != kind) continue;
        CManagedTransport* t = GetTransport(kind);
        if (!t) continue;
        t->Poll();
        if (!t->IsStateChanged()) continue;
        int s = t->GetState() & 0xF0;
        if (s != m_state) {
            // An outgoing attempt that falls back to idle before it connected is
            // a failed connect, whether it failed at once or on completion.
            if (s == CONN_IDLE && m_state == CONN_CONNECTING) s = CONN_FAILED;
            if (s == CONN_CONNECTING || s == CONN_CONNECTED) KeepTransport(kind);
            SetState(s);
        } else if (s == CONN_CONNECTED) {
            WritePeerAddress();
            m_infoChanged = 1;
        }
    }
}
