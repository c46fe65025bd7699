#include "platform/WinSock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace ws {

namespace {
std::atomic<int> g_startups{0};

int Fail() {
    WSASetLastError(WinSockErrorFromErrno(errno));
    return SOCKET_ERROR;
}

int Fail(int code) {
    WSASetLastError(code);
    return SOCKET_ERROR;
}

sockaddr_in ToNative(const SocketAddress& a) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(a.port);
    sa.sin_addr.s_addr = htonl(a.ip);
    return sa;
}

SocketAddress FromNative(const sockaddr_in& sa) {
    SocketAddress a;
    a.ip = ntohl(sa.sin_addr.s_addr);
    a.port = ntohs(sa.sin_port);
    return a;
}

int SetIntOption(SOCKET s, int level, int name, int value) {
    if (::setsockopt(s, level, name, &value, sizeof value) != 0) return Fail();
    return 0;
}

int SetTimeOption(SOCKET s, int name, uint32_t ms) {
    timeval tv;
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    if (::setsockopt(s, SOL_SOCKET, name, &tv, sizeof tv) != 0) return Fail();
    return 0;
}

// A blocking socket that would block has run into its SO_RCVTIMEO/SO_SNDTIMEO:
// Winsock calls that a time-out.
int FailTransfer(SOCKET s) {
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) {
        const int flags = ::fcntl(s, F_GETFL, 0);
        if (flags >= 0 && !(flags & O_NONBLOCK)) return Fail(WSAETIMEDOUT);
    }
    return Fail(WinSockErrorFromErrno(error));
}

bool IsStream(SOCKET s) {
    int type = 0;
    socklen_t len = sizeof type;
    return ::getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM;
}
}  // namespace

int WSAStartup(uint16_t version) {
    // Only 2.2 (0x0202) is ever asked for; older versions are refused as Winsock would.
    if ((version & 0xFF) < 2) return WSAEINVAL;
    g_startups.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int WSACleanup() {
    int n = g_startups.load(std::memory_order_relaxed);
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
    }
    if (n <= 0) return Fail(WSANOTINITIALISED);
    return 0;
}

SOCKET socket(SocketKind kind) {
    const int type = kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM;
    const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) return Fail();
    return s;
}

int closesocket(SOCKET s) {
    if (s < 0) return Fail(WSAENOTSOCK);
    if (::close(s) != 0) return Fail();
    return 0;
}

int SetNonBlocking(SOCKET s, bool on) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0) return Fail();
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags && ::fcntl(s, F_SETFL, wanted) != 0) return Fail();
    return 0;
}

int bind(SOCKET s, const SocketAddress& address) {
    // A port whose last call still lingers in TIME_WAIT must be usable at once.
    if (IsStream(s) && SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1) != 0) return SOCKET_ERROR;
    const sockaddr_in sa = ToNative(address);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return Fail();
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (::listen(s, backlog) != 0) return Fail();
    return 0;
}

SOCKET accept(SOCKET s, SocketAddress* peer) {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    // Winsock hands out accepted sockets with the listening socket's mode; the
    // transports only ever listen non-blocking.
    const int flags = ::fcntl(s, F_GETFL, 0);
    const int extra = (flags >= 0 && (flags & O_NONBLOCK)) ? SOCK_NONBLOCK : 0;
    int c;
    do {
        c = ::accept4(s, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC | extra);
    } while (c < 0 && errno == EINTR);
    if (c < 0) return Fail();
    if (peer) *peer = FromNative(sa);
    return c;
}

int connect(SOCKET s, const SocketAddress& address) {
    const sockaddr_in sa = ToNative(address);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return Fail();
    return 0;
}

int send(SOCKET s, const void* data, int len) {
    if (len < 0) return Fail(WSAEINVAL);
    ssize_t n;
    do {
        n = ::send(s, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return FailTransfer(s);
    return static_cast<int>(n);
}

int recv(SOCKET s, void* data, int len) {
    if (len < 0) return Fail(WSAEINVAL);
    ssize_t n;
    do {
        n = ::recv(s, data, static_cast<size_t>(len), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return FailTransfer(s);
    return static_cast<int>(n);
}

int sendto(SOCKET s, const void* data, int len, const SocketAddress& to) {
    if (len < 0) return Fail(WSAEINVAL);
    const sockaddr_in sa = ToNative(to);
    ssize_t n;
    do {
        n = ::sendto(s, data, static_cast<size_t>(len), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    return static_cast<int>(n);
}

int recvfrom(SOCKET s, void* data, int len, SocketAddress* from) {
    if (len < 0) return Fail(WSAEINVAL);
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    socklen_t salen = sizeof sa;
    ssize_t n;
    do {
        // MSG_TRUNC makes the kernel tell the datagram's real length.
        n = ::recvfrom(s, data, static_cast<size_t>(len), MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa),
                       &salen);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    if (from) *from = FromNative(sa);
    if (n > len) return Fail(WSAEMSGSIZE);
    return static_cast<int>(n);
}

int shutdown(SOCKET s, int how) {
    const int native = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(s, native) != 0) return Fail();
    return 0;
}

int getpeername(SOCKET s, SocketAddress* out) {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Fail();
    if (out) *out = FromNative(sa);
    return 0;
}

int getsockname(SOCKET s, SocketAddress* out) {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Fail();
    if (out) *out = FromNative(sa);
    return 0;
}

int SetNoDelay(SOCKET s, bool on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }
int SetSendBufferSize(SOCKET s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_SNDBUF, bytes); }
int SetReceiveBufferSize(SOCKET s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_RCVBUF, bytes); }
int SetReceiveTimeout(SOCKET s, uint32_t ms) { return SetTimeOption(s, SO_RCVTIMEO, ms); }
int SetSendTimeout(SOCKET s, uint32_t ms) { return SetTimeOption(s, SO_SNDTIMEO, ms); }

int SetLinger(SOCKET s, bool on, int seconds) {
    linger l;
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return Fail();
    return 0;
}

int SetReuseAddress(SOCKET s, bool on) { return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0); }

namespace {
int SetMembership(SOCKET s, int name, uint32_t group, uint32_t interfaceIp) {
    ip_mreq m;
    std::memset(&m, 0, sizeof m);
    m.imr_multiaddr.s_addr = htonl(group);
    m.imr_interface.s_addr = htonl(interfaceIp);
    if (::setsockopt(s, IPPROTO_IP, name, &m, sizeof m) != 0) return Fail();
    return 0;
}
}  // namespace

int JoinGroup(SOCKET s, uint32_t group, uint32_t interfaceIp) {
    return SetMembership(s, IP_ADD_MEMBERSHIP, group, interfaceIp);
}

int LeaveGroup(SOCKET s, uint32_t group, uint32_t interfaceIp) {
    return SetMembership(s, IP_DROP_MEMBERSHIP, group, interfaceIp);
}

int SetMulticastInterface(SOCKET s, uint32_t interfaceIp) {
    in_addr a;
    a.s_addr = htonl(interfaceIp);
    if (::setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) != 0) return Fail();
    return 0;
}

int SetMulticastTtl(SOCKET s, int hops) { return SetIntOption(s, IPPROTO_IP, IP_MULTICAST_TTL, hops); }
int SetMulticastLoop(SOCKET s, bool on) { return SetIntOption(s, IPPROTO_IP, IP_MULTICAST_LOOP, on ? 1 : 0); }

int RecvFromWithTtl(SOCKET s, void* data, int len, SocketAddress* from, int* ttl) {
    if (ttl) *ttl = -1;
    if (len < 0) return Fail(WSAEINVAL);
    if (SetIntOption(s, IPPROTO_IP, IP_RECVTTL, 1) != 0) return SOCKET_ERROR;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    iovec iov;
    iov.iov_base = data;
    iov.iov_len = static_cast<size_t>(len);
    alignas(cmsghdr) char control[64];
    msghdr msg;
    std::memset(&msg, 0, sizeof msg);
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(s, &msg, MSG_TRUNC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    if (from) *from = FromNative(sa);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c && ttl; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
            int value = 0;
            std::memcpy(&value, CMSG_DATA(c), sizeof value);
            *ttl = value;
        }
    }
    if (n > len) return Fail(WSAEMSGSIZE);
    return static_cast<int>(n);
}

int GetSocketError(SOCKET s) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return WinSockErrorFromErrno(errno);
    return WinSockErrorFromErrno(error);
}

int WaitSocket(SOCKET s, int events, int timeoutMs) {
    pollfd p;
    p.fd = s;
    p.events = static_cast<short>(((events & kWaitRead) ? POLLIN : 0) | ((events & kWaitWrite) ? POLLOUT : 0));
    p.revents = 0;
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    int result = 0;
    if (p.revents & (POLLIN | POLLHUP)) result |= events & kWaitRead;
    if (p.revents & POLLOUT) result |= events & kWaitWrite;
    if (p.revents & (POLLERR | POLLNVAL)) result |= kWaitError;
    return result;
}

int CheckConnect(SOCKET s) {
    pollfd p;
    p.fd = s;
    p.events = POLLOUT;
    p.revents = 0;
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail();
    if (n == 0) return 0;
    // Linux marks a refused connect writable as well as in error: SO_ERROR decides.
    const int error = GetSocketError(s);
    if (error != 0) return Fail(error);
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return Fail(WSAECONNREFUSED);
    if (p.revents & POLLOUT) {
        // Writable without an error is connected only when a peer is there.
        sockaddr_in sa;
        socklen_t len = sizeof sa;
        if (::getpeername(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Fail(WSAENOTCONN);
        return 1;
    }
    return 0;
}

}  // namespace ws
