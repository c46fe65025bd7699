#pragma once
// UDP multicast: one station sends to a group, any number of stations join
// it and play it. There is no call set-up: the sender announces its format
// and its identity every 4 s, and a receiver takes the format from the
// stream. Multicast loopback is off, so a sender never hears itself.
//
// Threads: only the call engine's worker thread calls a transport.
#include <cstdint>
#include <memory>
#include <vector>

#include "common/Records.h"
#include "common/StationIdentity.h"
#include "common/Stopwatch.h"
#include "net/DatagramSource.h"
#include "net/MulticastReceiver.h"
#include "net/ManagedTransport.h"
#include "platform/WinSock.h"

class CMulticastTransport final : public CManagedTransport, private CDatagramSource {
public:
    enum State {
        kStateNone = 0,
        kStateReady = 16,   // no socket
        kStateSocket = 17,  // socket open
        kStateOpen = 48,    // joined, or sending
    };
    static constexpr int kDefaultBufferSize = 10240;
    static constexpr int kMaxDatagramBytes = 1024;
    static constexpr uint32_t kAnnounceMs = 4000;

    // The manager's: [UDP] BufferSize, socket open; null when it cannot be had.
    static std::unique_ptr<CManagedTransport> Create(const CSettings& settings, int fastCpu);

    CMulticastTransport() = default;
    ~CMulticastTransport() override;
    CMulticastTransport(const CMulticastTransport&) = delete;
    CMulticastTransport& operator=(const CMulticastTransport&) = delete;

    int Init(int bufferSize);
    int OpenSocket();
    // group: a dotted address or a host name (blanks, '*' and '_' are
    // ignored); hops: the sender's time to live, 1 to 255.
    int Open(const char* group, int port, int sender, int hops);
    int Close();
    int GetLastError() override;  // returned and cleared

    int IsSender() const { return m_sender; }
    int IsSendFailing() const { return m_sendError; }
    const CMulticastReceiver& GetReceiver() const { return m_receiver; }

    // CManagedTransport: a connection opens the group (the port as 16 bits);
    // ending it closes the socket. Nothing to listen for.
    int Start(const ConnectionInfo& connection, const AudioFormat& sendFormat) override;
    int StartListening(const CSettings&) override { return 0; }
    void HangUpConnection() override { Close(); }
    void CloseIpSockets() override { Close(); }

    // CTransport
    int GetState() override;
    int IsStateChanged() override { return m_stateChanged; }
    void SetSendFormat(const AudioFormat* format) override;
    void GetReceiveFormat(AudioFormat* format) override;
    int IsReceiveFormatChanged() override;
    int ReadAudio(uint8_t* dst, int len) override;
    void FlushReceive() override;
    int GetReceiveAvailable() override;
    int WriteAudio(const uint8_t* src, int len) override;
    void DiscardSendData() override { FlushReceive(); }
    int GetSendSpace() override;
    int GetControlType() override { return m_receiver.GetControlType(); }
    int GetControlLength() override { return m_receiver.GetControlLength(); }
    void DiscardControl() override { m_receiver.DiscardControl(); }
    int ReadControl(void* dst, int len) override { return m_receiver.ReadControl(dst, len); }
    int SendControl(int type, const void* data, int len) override;
    void Poll() override;

private:
    int ReceiveDatagram(uint8_t* dst, int max, ws::SocketAddress* from) override;
    bool SendDatagram(const uint8_t* data, int len);
    bool SendFrame(int type, const void* data, int len);
    void Announce();
    void SetState(int state);
    void SetError(int code);
    bool IsReceiving() const { return m_state == kStateOpen && !m_sender; }

    int m_state = kStateNone;
    int m_stateChanged = 0;
    int m_lastError = 0;
    int m_sendError = 0;
    int m_sender = 0;
    int m_bufferSize = kDefaultBufferSize;
    ws::SOCKET m_socket = ws::INVALID_SOCKET;
    ws::SocketAddress m_group;
    AudioFormat m_sendFormat;  // a sender's own format
    int m_sendFormatChanged = 0;
    int m_haveIdentity = 0;
    StationIdentity m_identity;
    std::vector<uint8_t> m_frame;  // one control frame on its way out
    CStopwatch m_announce;
    CMulticastReceiver m_receiver;
    int m_wsaStarted = 0;
};
