#pragma once
// Listening ports for a test process, given out by the system as free when
// first asked for: numbers made from the process id could meet another
// test's ports, or a port the system lent an outgoing connection meanwhile.
// The same offset gives the same port for the whole process.
#include <algorithm>
#include <array>
#include <cstddef>

#include "platform/WinSock.h"

inline int FreeTestPort(int offset) {
    static const std::array<int, 4> ports = [] {
        std::array<int, 4> p{};
        for (size_t i = 0; i < p.size(); ++i) {
            do {
                const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
                ws::SocketAddress any;
                any.ip = ws::kAddressLoopback;
                any.port = 0;
                ws::bind(s, any);
                ws::SocketAddress given;
                ws::getsockname(s, &given);
                ws::closesocket(s);
                p[i] = given.port;
            } while (std::find(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(i), p[i]) !=
                     p.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return p;
    }();
    return ports.at(static_cast<size_t>(offset));
}
