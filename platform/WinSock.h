#pragma once
// Windows Sockets over POSIX sockets. The calls keep their Winsock names and
// results (SOCKET_ERROR plus WSAGetLastError) so the transports read as on the
// station they talk to. Addresses are IPv4 in host byte order.
//
// What differs from plain POSIX, on purpose:
//  - a non-blocking connect under way and a would-block are both 10035;
//  - send never raises SIGPIPE;
//  - accepted sockets are non-blocking like their listening socket;
//  - a stream socket may bind a port still in TIME_WAIT, so a station can
//    listen again right after a call;
//  - a datagram longer than the buffer is 10040 (its head is still delivered),
//    and so is a datagram too long to send.
// Any thread may call; a socket is used by one thread at a time.
#include <cstdint>

#include "platform/WinSockErrors.h"

namespace ws {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr uint32_t kAddressAny = 0;
constexpr uint32_t kAddressNone = 0xFFFFFFFFu;
constexpr uint32_t kAddressLoopback = 0x7F000001u;

enum class SocketKind { Stream, Datagram };

struct SocketAddress {
    uint32_t ip = 0;    // host byte order: 127.0.0.1 is 0x7F000001
    uint16_t port = 0;  // host byte order
};

// Version 2.2 is the one asked for; counts like Winsock, nothing else to do.
int WSAStartup(uint16_t version);
int WSACleanup();

SOCKET socket(SocketKind kind);
int closesocket(SOCKET s);
int SetNonBlocking(SOCKET s, bool on);  // ioctlsocket(FIONBIO)
int bind(SOCKET s, const SocketAddress& address);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, SocketAddress* peer);  // peer may be null
int connect(SOCKET s, const SocketAddress& address);
int send(SOCKET s, const void* data, int len);
int recv(SOCKET s, void* data, int len);
int sendto(SOCKET s, const void* data, int len, const SocketAddress& to);
int recvfrom(SOCKET s, void* data, int len, SocketAddress* from);
int shutdown(SOCKET s, int how);
int getpeername(SOCKET s, SocketAddress* out);
int getsockname(SOCKET s, SocketAddress* out);

int SetNoDelay(SOCKET s, bool on);                // TCP_NODELAY
int SetSendBufferSize(SOCKET s, int bytes);       // SO_SNDBUF
int SetReceiveBufferSize(SOCKET s, int bytes);    // SO_RCVBUF
int SetReceiveTimeout(SOCKET s, uint32_t ms);     // blocking recv gives 10060 after it
int SetSendTimeout(SOCKET s, uint32_t ms);        // blocking send gives 10060 after it
int GetSocketError(SOCKET s);                     // SO_ERROR as a Winsock code (0 = none)
int SetLinger(SOCKET s, bool on, int seconds);    // SO_LINGER; on with 0 s resets the peer at close
int SetReuseAddress(SOCKET s, bool on);           // SO_REUSEADDR: datagram receivers share a port

// IPv4 multicast (group and interface addresses in host byte order;
// kAddressAny lets the routing table choose the interface).
int JoinGroup(SOCKET s, uint32_t group, uint32_t interfaceIp);   // IP_ADD_MEMBERSHIP
int LeaveGroup(SOCKET s, uint32_t group, uint32_t interfaceIp);  // IP_DROP_MEMBERSHIP
int SetMulticastInterface(SOCKET s, uint32_t interfaceIp);       // IP_MULTICAST_IF
int SetMulticastTtl(SOCKET s, int hops);                         // IP_MULTICAST_TTL
int SetMulticastLoop(SOCKET s, bool on);                         // IP_MULTICAST_LOOP
// recvfrom that also tells the IP time-to-live the datagram arrived with
// (IP_RECVTTL is switched on by the first call; *ttl is -1 when unknown).
int RecvFromWithTtl(SOCKET s, void* data, int len, SocketAddress* from, int* ttl);

// The part of select() the transports use, for one socket.
constexpr int kWaitRead = 1;
constexpr int kWaitWrite = 2;
constexpr int kWaitError = 4;
// Which of the asked conditions hold after at most timeoutMs (0 = just look);
// kWaitError is always reported. SOCKET_ERROR when the wait itself fails.
int WaitSocket(SOCKET s, int events, int timeoutMs);

// A non-blocking connect: 1 connected, 0 still under way, SOCKET_ERROR failed
// (WSAGetLastError gives the reason, e.g. 10061). A failed attempt never
// looks connected, whatever the poll flags say.
int CheckConnect(SOCKET s);

}  // namespace ws
