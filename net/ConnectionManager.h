#pragma once
// Owns the transports, decides which one the current call uses, maps their
// states onto one connection state and forwards the transport operations to
// the active one. The call engine builds a fresh manager after every
// connection: once a call starts, only its transport is kept.
//
// The transports come from net/TransportRegistry.cpp and are kept by kind;
// a kind without a row (or whose transport cannot be opened) never appears
// in the mask, and a connect request of that kind is refused.
//
// Threads: only the call engine's worker thread calls a manager (the TCP
// transport's connect worker touches only that transport's own members).
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/Records.h"
#include "common/Settings.h"
#include "net/ManagedTransport.h"
#include "net/TransportRegistry.h"

constexpr int CONN_IDLE = 16;
constexpr int CONN_FAILED = 17;
constexpr int CONN_CONNECTING = 32;
constexpr int CONN_CONNECTED = 48;

class CConnectionManager {
public:
    static constexpr int kProgramPathBytes = 1024;

    // settings: where this station's settings live (the default file unless
    // told); transports: the kinds offered (the registered ones unless told).
    explicit CConnectionManager(CSettings settings = CSettings(),
                                std::span<const TransportRegistration> transports = RegisteredTransports());
    ~CConnectionManager();
    CConnectionManager(const CConnectionManager&) = delete;
    CConnectionManager& operator=(const CConnectionManager&) = delete;

    // programFile (in/out, kProgramPathBytes): the program's file name; the
    // full path of the running program is written back. 1/0.
    int Init(char* programFile, int fastCpu);
    // Returns the state and clears the state-changed flag.
    int GetState();
    int IsStateChanged() const { return m_stateChanged; }
    int IsIncoming() const { return m_incoming; }
    int GetConnectionType() const { return m_connection.kind; }
    // 0 while a state change has not been taken or unless connecting or
    // connected; else copies the connection and clears the changed flag.
    int GetConnectionInfo(ConnectionInfo* out);
    int IsConnectionInfoChanged() const { return m_infoChanged; }
    // The last error of the current kind's transport (or of `kind` without a
    // connection), read and cleared; 0 when that transport is absent.
    int GetLastError(int kind = 0);
    uint32_t GetTransportMask() const { return m_mask; }

    void SetSendFormat(const AudioFormat* format);
    void GetReceiveFormat(AudioFormat* format);
    int IsReceiveFormatChanged();
    // The ISDN transport's send-starved flag during an ISDN connection, else 0.
    int IsIsdnSendStarved();
    void SetBuffering(int connectionType, int bufferingMode, int bufferMs);
    int GetBuffering(int* connectionType, int* bufferingMode, int* bufferMs);

    int GetControlType();
    int GetControlLength();
    void DiscardControl();
    int ReadControl(void* dst, int len);
    int SendControl(int type, const void* data, int len);
    int GetReceiveAvailable();
    void FlushReceive();
    int ReadAudio(uint8_t* dst, int len);
    int GetSendSpace();
    void DiscardSendData();
    int WriteAudio(const uint8_t* src, int len);

    int Connect(const ConnectionInfo* connection);
    void CloseIpTransports();
    int StartListening();
    int Disconnect();
    void ClearFailure();
    void Poll();

    // The transport of a kind while it exists, else null.
    CManagedTransport* GetTransport(int kind);

private:
    void SetState(int state);
    struct Slot {
        int kind;
        std::unique_ptr<CManagedTransport> transport;
    };

    void KeepTransport(int kind);
    void DestroyTransports();
    void WritePeerAddress();
    // The transport of the current kind, or of `kind` without a connection.
    CManagedTransport* CurrentOr(int kind);

    int m_state = 0;
    uint32_t m_mask = 0;
    int m_fastCpu = 0;
    int m_incoming = 0;
    int m_stateChanged = 0;
    int m_infoChanged = 0;
    int m_refusal = 0;  // error of a destination refused before any transport saw it
    char m_programPath[kProgramPathBytes] = {};
    ConnectionInfo m_connection;
    AudioFormat m_sendFormat;
    CSettings m_settings;
    std::span<const TransportRegistration> m_registrations;
    std::vector<Slot> m_transports;  // in registration order
    CManagedTransport* m_active = nullptr;
};
