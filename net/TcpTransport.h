#pragma once
// One TCP connection carrying coded audio and control frames in one byte
// stream each way. It listens for one incoming call, or connects out -
// directly or through a SOCKS proxy - on a short-lived connect worker thread.
// It also speaks the packet protocol when the peer does.
//
// Threads: everything is called on the call engine's worker thread (the
// owner). The connect worker touches only the socket, the SOCKS client and
// its own result fields; the owner joins it before it looks at the socket
// again, and before closing or destroying the transport.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "common/Records.h"
#include "common/StationIdentity.h"
#include "common/Stopwatch.h"
#include "common/Settings.h"
#include "net/ControlFrame.h"
#include "net/ManagedTransport.h"
#include "net/SocksClient.h"
#include "net/StreamParser.h"
#include "platform/WinSock.h"

class CTcpTransport final : public CManagedTransport {
public:
    enum State {
        kStateNone = 0,
        kStateReady = 16,      // no socket
        kStateOpen = 17,       // socket open
        kStateListening = 18,
        kStateConnecting = 32,
        kStateConnected = 48,
    };
    enum Protocol { kProtocolUnknown = 0, kProtocolFrames = 10, kProtocolPackets = 20 };

    static constexpr int kDefaultBufferSize = 10240;
    static constexpr uint32_t kKeepAliveMs = 3000;
    static constexpr uint32_t kFormatResendMs = 2000;
    static constexpr uint32_t kStartTimeoutMs = 16000;
    static constexpr uint32_t kTrafficTimeoutMs = 8000;
    static constexpr uint32_t kDefaultConnectTimeoutMs = 21000;  // what a Windows station waits
    static constexpr int kPacketsSkippedAtStart = 75;

    // The manager's TCP transport: [TCP] BufferSize and the [Socks] values,
    // opened; null when it cannot be had.
    static std::unique_ptr<CManagedTransport> Create(const CSettings& settings, int fastCpu);

    CTcpTransport();
    ~CTcpTransport() override;
    CTcpTransport(const CTcpTransport&) = delete;
    CTcpTransport& operator=(const CTcpTransport&) = delete;

    int Init(int bufferSize, int socksVersion, const char* proxyAddress, int proxyPort);
    void SetProxyLogin(const char* user, const char* password);
    int Open();
    // Ends a call in order: the peer reads an end of stream, never a reset.
    // A peer's end of stream likewise ends the call here without an error;
    // a reset keeps its code (10054), and so does a program that dies
    // mid-call: its connection is reset.
    int Close();
    int Listen(int port);  // 0 when bind or listen fails (then not listening)
    int Connect(const char* address, int port, int useProxy);
    int HangUp() { return Close(); }
    int SetBuffering(int connectionType, int bufferingMode, int bufferMs) override;
    int GetBuffering(int* connectionType, int* bufferingMode, int* bufferMs) const override;
    int GetPeerAddress(char* out, int size) override;  // "%d.%d.%d.%d" in state 48
    int GetLastError() override;                       // returned and cleared

    // The whole connect attempt, SOCKS hand-shake included, gives up after
    // this long with 10060.
    void SetConnectTimeout(uint32_t ms);
    // Kernel buffer sizes for the data socket (0 = system default); small
    // ones let back-pressure be seen quickly.
    void SetSocketBufferBytes(int bytes) { m_socketBufferBytes = bytes; }
    int GetProtocol() const { return m_protocol; }

    // CManagedTransport: connect with the proxy flag; listen on [TCP]
    // PortNumber when [TCP] AnswerAcceptCalls is set (always reports 0).
    int Start(const ConnectionInfo& connection, const AudioFormat& sendFormat) override;
    int StartListening(const CSettings& settings) override;
    void HangUpConnection() override { Close(); }
    void CloseIpSockets() override { Close(); }

    // CTransport
    int GetState() override;
    int IsStateChanged() override { return m_stateChanged; }
    void SetSendFormat(const AudioFormat* format) override;
    void GetReceiveFormat(AudioFormat* format) override;
    int IsReceiveFormatChanged() override { return m_receiveFormatChanged; }
    int ReadAudio(uint8_t* dst, int len) override;
    void FlushReceive() override;
    int GetReceiveAvailable() override;
    int WriteAudio(const uint8_t* src, int len) override;
    void DiscardSendData() override { m_sendFill = 0; }
    int GetSendSpace() override;
    int GetControlType() override { return m_controlType; }
    int GetControlLength() override { return m_controlLength; }
    void DiscardControl() override;
    int ReadControl(void* dst, int len) override;
    int SendControl(int type, const void* data, int len) override;
    void Poll() override;

private:
    void SetState(int state);
    void SetError(int code);
    void StopWorker();
    void ConnectWorker(ws::SOCKET s, int useProxy, ws::SocketAddress target, int port);
    bool WorkerPause(uint32_t ms);
    void FailAndListenAgain(int code);
    void PeerHungUp();
    void SendFailed(int code);
    void CloseSockets();
    static void FinishStream(ws::SOCKET s);
    static bool ReadAway(ws::SOCKET s);
    void ConnectionStarted(ws::SOCKET data);
    void StartTimeouts(uint32_t ms);
    void RestartTimeoutsForDirection();

    void ReceiveStep();
    void ReceivePackets();
    void SearchReceived();
    void TakePeerPacket(int offset, int length);
    void TakeFormatFrame(const uint8_t* payload, int length);
    void TakeReceiveFormat(const AudioFormat& format);
    void AlignOnSyncWord();
    void CutReceived(int offset, int bytes);
    void DropReceivedAudio();

    void SendStep();
    bool NeedFormatFrame() const;
    bool QueueFormatFrame();
    bool QueueWire(const uint8_t* data, int len);
    bool DrainWire();
    void SendAudioStream();
    void SendAudioPackets();

    int CapacityFor(const AudioFormat& f) const;
    int ReceiveChunkFor(const AudioFormat& f) const;

    int m_lastError = 0;
    int m_state = kStateNone;
    int m_packetsToSkip = 0;
    int m_accepted = 0;
    int m_listenPort = 0;
    std::atomic<int> m_socksFailed{0};
    int m_formatSent = 0;
    int m_stateChanged = 0;
    int m_receiveFormatChanged = 0;
    int m_useProxy = 0;
    int m_protocol = kProtocolUnknown;
    int m_port = 0;
    BufferingValues m_buffering;
    int m_haveBuffering = 0;
    int m_receiveChunk = kDefaultBufferSize;
    int m_sendCapacity = kDefaultBufferSize;
    int m_bufferSize = kDefaultBufferSize;
    int m_sendFill = 0;
    int m_receiveFill = 0;
    std::vector<uint8_t> m_receive;
    std::vector<uint8_t> m_send;
    // Control frames and packets waiting to go out, whole: a partial send
    // leaves the rest here, never cut off and never overtaken.
    std::vector<uint8_t> m_wire;
    int m_wireFill = 0;
    int m_controlType = 0;
    int m_controlLength = 0;
    std::vector<uint8_t> m_controlPayload;
    int m_framePartial = 0;
    CStopwatch m_keepAlive;
    CStopwatch m_formatResend;
    CStopwatch m_receiveTimeout;
    CStopwatch m_sendTimeout;
    CStopwatch m_connectTimeout;
    uint32_t m_connectTimeoutMs = kDefaultConnectTimeoutMs;
    CSocksClient m_socks;
    std::thread m_worker;
    std::atomic<bool> m_workerRunning{false};
    std::atomic<bool> m_workerStop{false};
    std::atomic<int> m_workerError{0};
    ws::SOCKET m_socket = ws::INVALID_SOCKET;          // opened: listens or connects
    ws::SOCKET m_acceptedSocket = ws::INVALID_SOCKET;
    ws::SOCKET m_dataSocket = ws::INVALID_SOCKET;      // the accepted or the connected one
    ws::SocketAddress m_peerAddress;
    char m_hostName[257] = {};
    AudioFormat m_receiveFormat;
    AudioFormat m_sendFormat;
    StationIdentity m_localIdentity;
    CStreamParser m_parser;
    int m_socketBufferBytes = 0;
    int m_wsaStarted = 0;
};
