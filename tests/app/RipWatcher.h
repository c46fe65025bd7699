#pragma once
// A control application's ear on a station: connects to its remote-control
// port and collects the call states it reports (framed messages: u32
// command, u32 body size, body). Polled from the test's own wait loop, so it
// never blocks the window that test drives.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/WinSock.h"

class CRipWatcher {
public:
    static constexpr uint32_t kState = 0x20010;

    explicit CRipWatcher(int port) : m_port(static_cast<uint16_t>(port)) { ws::WSAStartup(0x0202); }
    ~CRipWatcher() {
        if (m_socket != ws::INVALID_SOCKET) ws::closesocket(m_socket);
        ws::WSACleanup();
    }
    CRipWatcher(const CRipWatcher&) = delete;
    CRipWatcher& operator=(const CRipWatcher&) = delete;

    // Connects once the station listens, then reads what has arrived; false
    // while the station is not yet there or after it closed the connection.
    bool Poll() {
        if (m_socket == ws::INVALID_SOCKET && !TryConnect()) return false;
        char chunk[1024];
        while (ws::WaitSocket(m_socket, ws::kWaitRead, 0) & ws::kWaitRead) {
            const int got = ws::recv(m_socket, chunk, sizeof chunk);
            if (got <= 0) {
                ws::closesocket(m_socket);
                m_socket = ws::INVALID_SOCKET;
                return false;
            }
            m_pending.insert(m_pending.end(), chunk, chunk + got);
        }
        Parse();
        return true;
    }
    const std::vector<uint32_t>& States() const { return m_states; }
    bool Saw(uint32_t state) const {
        for (uint32_t s : m_states)
            if (s == state) return true;
        return false;
    }
    uint32_t LastState() const { return m_states.empty() ? 0 : m_states.back(); }

private:
    bool TryConnect() {
        m_socket = ws::socket(ws::SocketKind::Stream);
        if (m_socket == ws::INVALID_SOCKET) return false;
        // Before the station listens, a try whose own port is the station's
        // meets itself (TCP's simultaneous open): it is reset, so that no
        // TIME_WAIT keeps the station from listening there.
        ws::SocketAddress self, peer;
        if (ws::connect(m_socket, {ws::kAddressLoopback, m_port}) == 0 && ws::getsockname(m_socket, &self) == 0 &&
            ws::getpeername(m_socket, &peer) == 0 && (self.ip != peer.ip || self.port != peer.port))
            return true;
        ws::SetLinger(m_socket, true, 0);
        ws::closesocket(m_socket);
        m_socket = ws::INVALID_SOCKET;
        return false;
    }
    void Parse() {
        size_t at = 0;
        while (m_pending.size() - at >= 8) {
            uint32_t command = 0, size = 0;
            std::memcpy(&command, &m_pending[at], 4);
            std::memcpy(&size, &m_pending[at + 4], 4);
            if (m_pending.size() - at - 8 < size) break;
            if (command == kState && size >= 4) {
                uint32_t state = 0;
                std::memcpy(&state, &m_pending[at + 8], 4);
                m_states.push_back(state);
            }
            at += 8 + size;
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
    }

    uint16_t m_port;
    ws::SOCKET m_socket = ws::INVALID_SOCKET;
    std::vector<char> m_pending;
    std::vector<uint32_t> m_states;
};
