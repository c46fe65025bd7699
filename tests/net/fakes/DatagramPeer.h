#pragma once
// A plain UDP socket playing the other end of a multicast transport: it
// sends datagrams byte for byte and collects what arrives, with the TTL
// each datagram came with. Waits are bounded real time.
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "common/ByteOrder.h"
#include "net/ControlFrame.h"
#include "platform/WinSock.h"

namespace datagram {

using Bytes = std::vector<uint8_t>;

struct Datagram {
    Bytes bytes;
    int ttl = -1;
    ws::SocketAddress from;
};

inline ws::SocketAddress At(uint32_t ip, uint16_t port) {
    ws::SocketAddress a;
    a.ip = ip;
    a.port = port;
    return a;
}

struct Peer {
    ws::SOCKET s = ws::INVALID_SOCKET;
    uint16_t port = 0;

    // bindPort 0: any free port. group != 0: joined on any interface.
    explicit Peer(uint16_t bindPort = 0, uint32_t group = 0) {
        s = ws::socket(ws::SocketKind::Datagram);
        ws::SetReuseAddress(s, true);
        ws::bind(s, At(ws::kAddressAny, bindPort));
        ws::SetNonBlocking(s, true);
        if (group) ws::JoinGroup(s, group, ws::kAddressAny);
        ws::SocketAddress a;
        ws::getsockname(s, &a);
        port = a.port;
    }
    ~Peer() {
        if (s != ws::INVALID_SOCKET) ws::closesocket(s);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Send(const Bytes& b, const ws::SocketAddress& to) {
        return ws::sendto(s, b.data(), static_cast<int>(b.size()), to) == static_cast<int>(b.size());
    }
    // Everything that arrives until `count` datagrams are in or maxMs passed.
    std::vector<Datagram> Receive(size_t count, int maxMs = 3000) {
        std::vector<Datagram> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        uint8_t buf[65536];
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            Datagram d;
            const int n = ws::RecvFromWithTtl(s, buf, sizeof buf, &d.from, &d.ttl);
            if (n > 0) {
                d.bytes.assign(buf, buf + n);
                out.push_back(std::move(d));
            } else {
                ws::WaitSocket(s, ws::kWaitRead, 5);
            }
        }
        return out;
    }
    // What is there now, after waiting briefly for stragglers.
    std::vector<Datagram> Drain(int quietMs = 100) { return Receive(1u << 20, quietMs); }
};

inline Bytes Frame(int type, const Bytes& payload) {
    Bytes out(16 + payload.size());
    BuildControlFrame(type, payload.data(), static_cast<int>(payload.size()), out.data(), static_cast<int>(out.size()));
    return out;
}

inline int FrameType(const Bytes& d) {
    const ControlFrameMatch m = FindControlFrame(d.data(), static_cast<int>(d.size()), static_cast<int>(d.size()));
    return m.status == ControlFrameMatch::Found && m.offset == 0 && m.length + 16 == static_cast<int>(d.size())
               ? m.type
               : 0;
}

}  // namespace datagram
