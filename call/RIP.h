#pragma once
// The remote-control server: one control application at a time drives the
// station over TCP (make and stop connections, choose the encoder, change
// answering) and hears every state, connection, format, identity, bandwidth
// and error report. No thread of its own: the main window polls it from a
// 200 ms timer and forwards the call engine's reports to its senders. GUI
// thread only. Sockets are non-blocking; nothing here ever waits.
#include <cstdint>
#include <vector>

#include "common/Records.h"
#include "common/Settings.h"
#include "common/StationIdentity.h"
#include "common/Stopwatch.h"
#include "platform/WinSock.h"
#include "platform/WindowMessages.h"

class CRIP {
public:
    CRIP();
    ~CRIP();
    CRIP(const CRIP&) = delete;
    CRIP& operator=(const CRIP&) = delete;

    int Init(HWND mainWindow, int port);  // 1 listening, 0 failed (see GetLastError)
    void SetAvailableTransports(uint32_t transportMask);
    void Poll();
    int PollBandwidthAnswer();  // one poll pass, then the answer (0 = none), cleared

    void SendState(int callState);
    void SetConnectionInfo(const ConnectionInfo& info);
    int SendBandwidthInfo(uint32_t first, uint32_t neededBitRate, uint32_t measuredBitRate);
    void SetRemoteIdentity(const StationIdentity& identity);
    void SetEncoderFormat(const AudioFormat& format);
    void SetDecoderFormat(const AudioFormat& format);
    void SendConnectionError(uint32_t kind, uint32_t code, const char* text);
    void SendMessageError(uint32_t command, uint32_t reason);

    void GetRequestedDestination(ConnectionInfo* out) const { *out = m_destination; }
    void GetRequestedFormat(AudioFormat* out) const { *out = m_encoderFormat; }

    int GetLastError() const { return m_lastError; }
    uint32_t GetAllowedMedia() const { return m_allowedMedia; }
    bool HasControlApplication() const { return m_control != ws::INVALID_SOCKET; }

private:
    int OpenMainSocket();
    void ActivateListen();
    void RecvMessage();
    bool RecvPiece();  // true once the wanted bytes are in
    void StartPiece(uint32_t wanted);
    void Dispatch(uint32_t command, const uint8_t* body, uint32_t size);
    void RecvProtocolError(const uint8_t* body, uint32_t size);
    void RecvMakeConection(const uint8_t* body, uint32_t size);
    void RecvSetEncoder(const uint8_t* body, uint32_t size);
    void RecvAnswerSettings(const uint8_t* body, uint32_t size);
    void RecvBandwidthInfo(const uint8_t* body, uint32_t size);
    bool CheckEncoder(bool ok, const char* name);

    void SendMessage(uint32_t command, const void* body, uint32_t size);
    void SendProtocolError(uint32_t command, uint32_t reason);
    void SendIdentity();
    void SendStoredState();
    void SendStoredConnection();
    void SendStoredRemoteIdentity();
    void SendFormat(uint32_t command, const AudioFormat& format, int emptyDirection);
    void FlushSendQueue();
    void CloseInSocket();
    void SetError(int code);
    void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int m_lastError = 0;
    int m_callState = 0;
    int m_bandwidthAnswer = 0;
    int m_port = 0;
    int m_debug = 0;
    CStopwatch m_partialRead;
    AudioFormat m_encoderFormat;
    AudioFormat m_decoderFormat;
    ConnectionInfo m_destination;
    StationIdentity m_peerIdentity;
    uint32_t m_allowedMedia = 0;
    ws::SOCKET m_control = ws::INVALID_SOCKET;
    ws::SOCKET m_listen = ws::INVALID_SOCKET;
    bool m_headerPending = false;
    uint32_t m_pendingCommand = 0;
    uint32_t m_pendingBodySize = 0;
    HWND m_mainWindow = nullptr;
    CSettings m_settings;
    bool m_started = false;

    // The piece being received: a header or a body. A body longer than the
    // buffer is read to its end and the excess dropped, so the stream keeps step.
    uint8_t m_piece[1024];
    uint32_t m_pieceWanted = 0;
    uint32_t m_pieceGot = 0;
    // Replies not yet taken by the socket; sent on the next passes, in order.
    std::vector<uint8_t> m_sendQueue;
};
