// The socket layer on loopback: Winsock codes for the failures the transports
// act on, and the Windows behaviour they rely on.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/NameLookup.h"
#include "platform/UserName.h"
#include "platform/WinSock.h"

using namespace ws;

namespace {

SocketAddress Loopback(uint16_t port) {
    SocketAddress a;
    a.ip = kAddressLoopback;
    a.port = port;
    return a;
}

// A listening socket on a free loopback port.
struct Listener {
    SOCKET s = INVALID_SOCKET;
    uint16_t port = 0;
    explicit Listener(int backlog = 4, bool nonBlocking = true) {
        s = socket(SocketKind::Stream);
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(bind(s, Loopback(0)), 0);
        EXPECT_EQ(listen(s, backlog), 0);
        if (nonBlocking) {
            EXPECT_EQ(SetNonBlocking(s, true), 0);
        }
        SocketAddress a;
        EXPECT_EQ(getsockname(s, &a), 0);
        port = a.port;
    }
    ~Listener() { closesocket(s); }
};

// Polls a non-blocking connect for up to two seconds of real time.
int WaitConnect(SOCKET s) {
    for (int i = 0; i < 200; ++i) {
        const int r = CheckConnect(s);
        if (r != 0) return r;
        WaitSocket(s, kWaitWrite, 10);
    }
    return 0;
}

uint16_t FreePort() {
    Listener l;
    return l.port;  // closed on return: nothing listens there afterwards
}

}  // namespace

TEST(WinSockErrors, PosixCodesMapToWinsock) {
    EXPECT_EQ(WinSockErrorFromErrno(EWOULDBLOCK), WSAEWOULDBLOCK);
    EXPECT_EQ(WinSockErrorFromErrno(EINPROGRESS), 10035);
    EXPECT_EQ(WinSockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinSockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinSockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinSockErrorFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(WinSockErrorFromErrno(EPIPE), 10058);
    EXPECT_EQ(WinSockErrorFromErrno(EMSGSIZE), 10040);
    EXPECT_EQ(WinSockErrorFromErrno(0), 0);
    EXPECT_GT(WinSockErrorFromErrno(9999), 20000);
}

TEST(WinSockErrors, LastErrorIsPerThread) {
    WSASetLastError(10054);
    int other = -1;
    std::thread t([&] {
        WSASetLastError(10061);
        other = WSAGetLastError();
    });
    t.join();
    EXPECT_EQ(other, 10061);
    EXPECT_EQ(WSAGetLastError(), 10054);
}

TEST(WinSock, StartupCountsAndCleanupRefusesWithoutStartup) {
    EXPECT_EQ(WSAStartup(0x0202), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_NE(WSAStartup(0x0101), 0);
}

TEST(WinSock, NonBlockingConnectToClosedPortFailsWith10061) {
    const uint16_t port = FreePort();
    SOCKET s = socket(SocketKind::Stream);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(SetNonBlocking(s, true), 0);
    const int rc = connect(s, Loopback(port));
    if (rc == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        EXPECT_EQ(WaitConnect(s), SOCKET_ERROR);  // seen as failed, never as connected
    } else {
        EXPECT_EQ(rc, SOCKET_ERROR);
    }
    EXPECT_EQ(WSAGetLastError(), 10061);
    closesocket(s);
}

TEST(WinSock, ConnectAcceptSendReceiveOnLoopback) {
    Listener l;
    SOCKET c = socket(SocketKind::Stream);
    ASSERT_EQ(SetNonBlocking(c, true), 0);
    const int rc = connect(c, Loopback(l.port));
    EXPECT_TRUE(rc == 0 || WSAGetLastError() == WSAEWOULDBLOCK);
    ASSERT_EQ(WaitConnect(c), 1);
    SOCKET a = INVALID_SOCKET;
    for (int i = 0; i < 200 && a == INVALID_SOCKET; ++i) {
        a = accept(l.s, nullptr);
        if (a == INVALID_SOCKET) {
            EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
            WaitSocket(l.s, kWaitRead, 10);
        }
    }
    ASSERT_NE(a, INVALID_SOCKET);
    // Accepted sockets are non-blocking: an empty receive would-blocks.
    char buf[8];
    EXPECT_EQ(recv(a, buf, sizeof buf), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(SetNoDelay(c, true), 0);
    EXPECT_EQ(send(c, "abc", 3), 3);
    ASSERT_NE(WaitSocket(a, kWaitRead, 2000) & kWaitRead, 0);
    EXPECT_EQ(recv(a, buf, sizeof buf), 3);
    EXPECT_EQ(std::memcmp(buf, "abc", 3), 0);
    SocketAddress peer;
    EXPECT_EQ(getpeername(a, &peer), 0);
    EXPECT_EQ(peer.ip, kAddressLoopback);
    closesocket(a);
    closesocket(c);
}

TEST(WinSock, ResetPeerGives10054AndSendAfterShutdownNoSignal) {
    Listener l(4, false);
    SOCKET c = socket(SocketKind::Stream);
    ASSERT_EQ(connect(c, Loopback(l.port)), 0);
    SOCKET a = accept(l.s, nullptr);
    ASSERT_NE(a, INVALID_SOCKET);
    EXPECT_EQ(send(c, "x", 1), 1);
    // Closing with unread data resets the connection, as a killed process does.
    closesocket(a);
    char buf[4];
    EXPECT_EQ(recv(c, buf, sizeof buf), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10054);
    // Further sends fail with a code, never with SIGPIPE.
    int rc = 0;
    for (int i = 0; i < 3 && rc != SOCKET_ERROR; ++i) rc = send(c, "y", 1);
    EXPECT_EQ(rc, SOCKET_ERROR);
    closesocket(c);
}

TEST(WinSock, PortCanBeListenedOnAgainRightAfterACall) {
    Listener first(4, false);
    const uint16_t port = first.port;
    SOCKET c = socket(SocketKind::Stream);
    ASSERT_EQ(connect(c, Loopback(port)), 0);
    SOCKET a = accept(first.s, nullptr);
    ASSERT_NE(a, INVALID_SOCKET);
    closesocket(a);  // the listening side closes first: its end stays in TIME_WAIT
    closesocket(c);
    closesocket(first.s);
    first.s = INVALID_SOCKET;
    SOCKET again = socket(SocketKind::Stream);
    EXPECT_EQ(bind(again, Loopback(port)), 0);
    EXPECT_EQ(listen(again, 1), 0);
    closesocket(again);
}

TEST(WinSock, BindToPortInUseFails) {
    Listener l;
    SOCKET s = socket(SocketKind::Stream);
    EXPECT_EQ(bind(s, Loopback(l.port)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    closesocket(s);
}

TEST(WinSock, OverlongDatagramGives10040WithItsHead) {
    SOCKET r = socket(SocketKind::Datagram);
    ASSERT_EQ(bind(r, Loopback(0)), 0);
    SocketAddress at;
    ASSERT_EQ(getsockname(r, &at), 0);
    SOCKET t = socket(SocketKind::Datagram);
    const char data[] = "0123456789";
    ASSERT_EQ(sendto(t, data, 10, at), 10);
    ASSERT_EQ(sendto(t, data, 4, at), 4);
    char buf[6] = {};
    SocketAddress from;
    EXPECT_EQ(recvfrom(r, buf, 6, &from), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::memcmp(buf, "012345", 6), 0);
    EXPECT_EQ(from.ip, kAddressLoopback);
    EXPECT_EQ(recvfrom(r, buf, 6, nullptr), 4);
    closesocket(t);
    closesocket(r);
}

TEST(WinSock, DatagramTooLongToSendGives10040AndNothingGoesOut) {
    SOCKET r = socket(SocketKind::Datagram);
    ASSERT_EQ(bind(r, Loopback(0)), 0);
    ASSERT_EQ(SetNonBlocking(r, true), 0);
    SocketAddress at;
    ASSERT_EQ(getsockname(r, &at), 0);
    SOCKET t = socket(SocketKind::Datagram);
    std::vector<char> big(70000, 'x');
    EXPECT_EQ(sendto(t, big.data(), static_cast<int>(big.size()), at), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    char buf[16];
    EXPECT_EQ(recvfrom(r, buf, sizeof buf, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    closesocket(t);
    closesocket(r);
}

// Several receivers of one group on one host bind the same port; without the
// option the second bind is refused.
TEST(WinSock, DatagramReceiversShareAPortOnlyWithReuseAddress) {
    SOCKET a = socket(SocketKind::Datagram);
    ASSERT_EQ(SetReuseAddress(a, true), 0);
    SocketAddress any;
    ASSERT_EQ(bind(a, any), 0);
    SocketAddress at;
    ASSERT_EQ(getsockname(a, &at), 0);
    any.port = at.port;
    SOCKET b = socket(SocketKind::Datagram);
    ASSERT_EQ(SetReuseAddress(b, true), 0);
    EXPECT_EQ(bind(b, any), 0);
    SOCKET c = socket(SocketKind::Datagram);
    EXPECT_EQ(bind(c, any), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    closesocket(c);
    closesocket(b);
    closesocket(a);
}

TEST(WinSock, MulticastOptionsAndTheArrivalTtl) {
    SOCKET r = socket(SocketKind::Datagram);
    ASSERT_EQ(bind(r, Loopback(0)), 0);
    SocketAddress at;
    ASSERT_EQ(getsockname(r, &at), 0);
    SOCKET t = socket(SocketKind::Datagram);
    EXPECT_EQ(SetMulticastTtl(t, 5), 0);
    EXPECT_EQ(SetMulticastLoop(t, false), 0);
    EXPECT_EQ(SetMulticastInterface(t, kAddressAny), 0);
    EXPECT_EQ(SetMulticastTtl(t, 300), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    // A group address that is not one cannot be joined.
    EXPECT_EQ(JoinGroup(r, kAddressLoopback, kAddressAny), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    // Unicast leaves with the ordinary TTL, whatever the multicast one is.
    ASSERT_EQ(sendto(t, "abc", 3, at), 3);
    char buf[8];
    int ttl = 0;
    SocketAddress from;
    ASSERT_EQ(RecvFromWithTtl(r, buf, sizeof buf, &from, &ttl), 3);
    EXPECT_EQ(from.ip, kAddressLoopback);
    EXPECT_EQ(ttl, 64);
    closesocket(t);
    closesocket(r);
}

TEST(WinSock, BlockingReceiveTimeOutGives10060) {
    Listener l(4, false);
    SOCKET c = socket(SocketKind::Stream);
    ASSERT_EQ(connect(c, Loopback(l.port)), 0);
    SOCKET a = accept(l.s, nullptr);
    ASSERT_EQ(SetReceiveTimeout(c, 20), 0);
    char b;
    EXPECT_EQ(recv(c, &b, 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    closesocket(a);
    closesocket(c);
}

TEST(NameLookup, AddressTexts) {
    EXPECT_EQ(inet_addr("127.0.0.1"), kAddressLoopback);
    EXPECT_EQ(inet_addr("10.1.2.3"), 0x0A010203u);
    EXPECT_EQ(inet_addr("host.example"), kAddressNone);
    EXPECT_EQ(inet_addr(""), kAddressNone);
    EXPECT_EQ(inet_addr(nullptr), kAddressNone);
}

TEST(NameLookup, LocalhostAndUnknownNames) {
    uint32_t a = 0;
    ASSERT_EQ(gethostbyname("localhost", &a), 0);
    EXPECT_EQ(a >> 24, 127u);
    // No resolver query here: the tests never leave the loopback interface.
    EXPECT_EQ(gethostbyname("", &a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST(UserName, GivesANameAndTheSizeNeeded) {
    char name[257];
    uint32_t size = sizeof name;
    ASSERT_EQ(GetUserNameA(name, &size), 1);
    EXPECT_EQ(size, std::strlen(name) + 1);
    uint32_t tiny = 1;
    EXPECT_EQ(GetUserNameA(name, &tiny), 0);
    EXPECT_EQ(tiny, size);
}
