#include "net/SocksClient.h"

#include <cstring>

#include "platform/Clock.h"
#include "platform/NameLookup.h"
#include "platform/UserName.h"

using namespace ws;

namespace {
constexpr int kWaitSliceMs = 20;  // how soon a cancel is noticed
constexpr int kMaxName = 255;     // one length byte on the wire
}  // namespace

int CSocksClient::Init(int version, const char* proxyAddress, int proxyPort) {
    if (version != 4 && version != 5) return 0;
    m_version = version;
    m_proxyAddress = proxyAddress ? proxyAddress : "";
    m_proxyPort = proxyPort;
    return 1;
}

void CSocksClient::SetLogin(const char* user, const char* password) {
    m_user = user ? user : "";
    m_password = password ? password : "";
    m_login = (!m_user.empty() && !m_password.empty()) ? 1 : 0;
}

int CSocksClient::GetLastError() {
    const int code = m_lastError;
    m_lastError = 0;
    return code ? (code | kSocksErrorFlag) : 0;
}

void CSocksClient::SetError(int code) {
    if (code != 0 && code != WSAEWOULDBLOCK && m_lastError == 0) m_lastError = code;
}

int CSocksClient::Connect(SOCKET s, const char* host, int port, int keepBlocking) {
    if (s == INVALID_SOCKET) return 0;
    m_socket = s;
    m_deadlineStart = timeGetTime();
    int result = ConnectProxy();
    if (result) {
        if (SetNonBlocking(s, false) != 0) SetError(WSAGetLastError());
        result = m_version == 5 ? Socks5(host ? host : "", port) : Socks4(host ? host : "", port);
    }
    if (!keepBlocking) SetNonBlocking(s, true);
    m_socket = INVALID_SOCKET;
    return result;
}

// Waits until the socket is ready for event, the hand-shake's time is up (10060)
// or it is cancelled. 1 ready, 0 failed with the error stored.
int CSocksClient::WaitFor(int event) {
    for (;;) {
        if (m_cancel.load(std::memory_order_acquire)) {
            SetError(WSAECONNABORTED);
            return 0;
        }
        if (timeGetTime() - m_deadlineStart >= m_timeoutMs.load(std::memory_order_relaxed)) {
            SetError(WSAETIMEDOUT);
            return 0;
        }
        const int r = WaitSocket(m_socket, event, kWaitSliceMs);
        if (r == SOCKET_ERROR) {
            SetError(WSAGetLastError());
            return 0;
        }
        if (r & (event | kWaitError)) return 1;
    }
}

int CSocksClient::ConnectProxy() {
    uint32_t ip = inet_addr(m_proxyAddress.c_str());
    if (ip == kAddressNone || ip == 0) {
        if (gethostbyname(m_proxyAddress.c_str(), &ip) != 0) {
            SetError(WSAGetLastError());
            return 0;
        }
    }
    m_proxy.ip = ip;
    m_proxy.port = static_cast<uint16_t>(m_proxyPort);
    // Connect without blocking so that the time-out and a cancel can end it.
    if (SetNonBlocking(m_socket, true) != 0) {
        SetError(WSAGetLastError());
        return 0;
    }
    if (ws::connect(m_socket, m_proxy) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
        SetError(WSAGetLastError());
        return 0;
    }
    for (;;) {
        const int r = CheckConnect(m_socket);
        if (r == 1) return 1;
        if (r == SOCKET_ERROR) {
            SetError(WSAGetLastError());
            return 0;
        }
        if (!WaitFor(kWaitWrite)) return 0;
    }
}

int CSocksClient::SendAll(const uint8_t* data, int len) {
    int done = 0;
    while (done < len) {
        if (!WaitFor(kWaitWrite)) return 0;
        const int n = ws::send(m_socket, data + done, len - done);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) {
            SetError(n == 0 ? WSAECONNRESET : WSAGetLastError());
            return 0;
        }
        done += n;
    }
    return 1;
}

int CSocksClient::ReceiveExact(uint8_t* data, int len) {
    int done = 0;
    while (done < len) {
        if (!WaitFor(kWaitRead)) return 0;
        const int n = ws::recv(m_socket, data + done, len - done);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) {
            // The proxy hung up mid-way: it dropped the request.
            SetError(n == 0 ? WSAECONNRESET : WSAGetLastError());
            return 0;
        }
        done += n;
    }
    return 1;
}

int CSocksClient::Socks4(const char* host, int port) {
    char user[257] = {};
    uint32_t userSize = sizeof user;
    if (!GetUserNameA(user, &userSize)) user[0] = '\0';
    const uint32_t ip = inet_addr(host);
    const bool byName = ip == kAddressNone;
    uint8_t req[8 + 257 + kMaxName + 1];
    int n = 0;
    req[n++] = 4;
    req[n++] = 1;
    req[n++] = static_cast<uint8_t>(port >> 8);
    req[n++] = static_cast<uint8_t>(port);
    const uint32_t dest = byName ? 1u : ip;  // 4A: 0.0.0.x, x not 0
    req[n++] = static_cast<uint8_t>(dest >> 24);
    req[n++] = static_cast<uint8_t>(dest >> 16);
    req[n++] = static_cast<uint8_t>(dest >> 8);
    req[n++] = static_cast<uint8_t>(dest);
    const size_t userLen = strnlen(user, 256);
    std::memcpy(req + n, user, userLen);
    n += static_cast<int>(userLen);
    req[n++] = 0;
    if (byName) {
        const size_t hostLen = strnlen(host, kMaxName);
        std::memcpy(req + n, host, hostLen);
        n += static_cast<int>(hostLen);
        req[n++] = 0;
    }
    if (!SendAll(req, n)) return 0;
    uint8_t reply[8];
    if (!ReceiveExact(reply, 8)) return 0;
    // Only the three refusals count; any other code is taken as granted, as
    // the stations on the other side have always done.
    switch (reply[1]) {
    case 91: SetError(kSocks4Rejected); return 0;
    case 92: SetError(kSocks4NoIdentd); return 0;
    case 93: SetError(kSocks4UserMismatch); return 0;
    default: return 1;
    }
}

int CSocksClient::Socks5(const char* host, int port) {
    const uint8_t greetPlain[] = {5, 1, 0};
    const uint8_t greetLogin[] = {5, 2, 0, 2};
    if (m_login ? !SendAll(greetLogin, 4) : !SendAll(greetPlain, 3)) return 0;
    uint8_t choice[2];
    if (!ReceiveExact(choice, 2)) return 0;
    if (choice[1] == 2) {
        uint8_t auth[3 + 2 * kMaxName];
        int n = 0;
        const size_t userLen = m_user.size() < kMaxName ? m_user.size() : kMaxName;
        const size_t passLen = m_password.size() < kMaxName ? m_password.size() : kMaxName;
        auth[n++] = 1;
        auth[n++] = static_cast<uint8_t>(userLen);
        std::memcpy(auth + n, m_user.data(), userLen);
        n += static_cast<int>(userLen);
        auth[n++] = static_cast<uint8_t>(passLen);
        std::memcpy(auth + n, m_password.data(), passLen);
        n += static_cast<int>(passLen);
        if (!SendAll(auth, n)) return 0;
        uint8_t status[2];
        if (!ReceiveExact(status, 2)) return 0;
        if (status[1] != 0) {
            SetError(kSocks5LoginRefused);
            return 0;
        }
    } else if (choice[1] != 0) {
        SetError(kSocks5MethodRefused);
        return 0;
    }
    uint8_t req[7 + kMaxName];
    int n = 0;
    req[n++] = 5;
    req[n++] = 1;
    req[n++] = 0;
    const uint32_t ip = inet_addr(host);
    if (ip != kAddressNone) {
        req[n++] = 1;
        req[n++] = static_cast<uint8_t>(ip >> 24);
        req[n++] = static_cast<uint8_t>(ip >> 16);
        req[n++] = static_cast<uint8_t>(ip >> 8);
        req[n++] = static_cast<uint8_t>(ip);
    } else {
        const size_t hostLen = strnlen(host, kMaxName);
        req[n++] = 3;
        req[n++] = static_cast<uint8_t>(hostLen);
        std::memcpy(req + n, host, hostLen);
        n += static_cast<int>(hostLen);
    }
    req[n++] = static_cast<uint8_t>(port >> 8);
    req[n++] = static_cast<uint8_t>(port);
    if (!SendAll(req, n)) return 0;
    uint8_t head[4];
    if (!ReceiveExact(head, 4)) return 0;
    const int code = head[1];
    const int refusal = code == 0 ? 0 : code <= 8 ? (kSocks5ReplyBase | code) : kSocks5ReplyOther;
    // The bound address is read whole so the stream starts clean; a proxy that
    // refused may hang up instead, and then its reply code is what counts.
    int addressBytes = -1;
    if (head[3] == 1) {
        addressBytes = 4;
    } else if (head[3] == 4) {
        addressBytes = 16;
    } else if (head[3] == 3) {
        uint8_t len;
        if (ReceiveExact(&len, 1)) addressBytes = len;
    }
    bool tailRead = false;
    if (addressBytes >= 0) {
        uint8_t tail[258];
        tailRead = ReceiveExact(tail, addressBytes + 2) != 0;
    }
    if (refusal) {
        m_lastError = 0;
        SetError(refusal);
        return 0;
    }
    if (!tailRead) {
        SetError(kSocks5ReplyBase | 1);  // an address type we cannot read: general failure
        return 0;
    }
    return 1;
}
