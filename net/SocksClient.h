#pragma once
// Connects a TCP socket to a destination through a SOCKS proxy: SOCKS 4 (4A
// for host names) or SOCKS 5 with the user/password method. Runs blocking on
// the TCP transport's connect worker thread; the whole hand-shake is bounded
// by a time-out and can be cancelled from the owner's thread.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/WinSock.h"

// Result codes kept besides Winsock codes; GetLastError sets bit 31 on them.
constexpr int kSocks4Rejected = 0x40001;       // reply 91
constexpr int kSocks4NoIdentd = 0x40002;       // reply 92
constexpr int kSocks4UserMismatch = 0x40003;   // reply 93
constexpr int kSocks5ReplyBase = 0x50000;      // | reply code 1..8
constexpr int kSocks5ReplyOther = 0x50009;     // reply code above 8
constexpr int kSocks5LoginRefused = 0x51001;
constexpr int kSocks5MethodRefused = 0x51002;  // a method other than 0 or 2
constexpr int kSocksErrorFlag = static_cast<int>(0x80000000u);

class CSocksClient {
public:
    CSocksClient() = default;

    // Owner's thread, before any connect.
    int Init(int version, const char* proxyAddress, int proxyPort);  // 0 unless version 4 or 5
    void SetLogin(const char* user, const char* password);           // login when both are non-empty
    void SetTimeout(uint32_t ms) { m_timeoutMs.store(ms, std::memory_order_relaxed); }

    // Worker thread: the hand-shake on socket s (not yet connected). 1 when the
    // proxy has connected the destination; 0 with the reason in the last error.
    int Connect(ws::SOCKET s, const char* host, int port, int keepBlocking);

    // Any thread: a running hand-shake gives up at its next wait; cleared by ResetCancel.
    void Cancel() { m_cancel.store(true, std::memory_order_release); }
    void ResetCancel() { m_cancel.store(false, std::memory_order_release); }

    // The code or'ed with 0x80000000 (0 when none), cleared. Call when no hand-shake runs.
    int GetLastError();
    int GetVersion() const { return m_version; }

private:
    int ConnectProxy();
    int Socks4(const char* host, int port);
    int Socks5(const char* host, int port);
    int SendAll(const uint8_t* data, int len);
    int ReceiveExact(uint8_t* data, int len);
    int WaitFor(int event);
    void SetError(int code);

    int m_version = 0;
    int m_login = 0;
    int m_proxyPort = 0;
    std::string m_proxyAddress;
    std::string m_user;
    std::string m_password;
    int m_lastError = 0;
    ws::SOCKET m_socket = ws::INVALID_SOCKET;
    ws::SocketAddress m_proxy;
    std::atomic<uint32_t> m_timeoutMs{21000};
    std::atomic<bool> m_cancel{false};
    uint32_t m_deadlineStart = 0;
};
