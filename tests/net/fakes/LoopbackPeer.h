#pragma once
// Plain sockets on 127.0.0.1 playing the far end of a transport, and a pump
// that polls transports until something holds. Waits are bounded real time
// for loopback packets to arrive; protocol time is the test's CSimClock.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <thread>
#include <vector>

#include "common/ByteOrder.h"
#include "net/ControlFrame.h"
#include "net/TcpTransport.h"
#include "platform/WinSock.h"

namespace loopback {

using Bytes = std::vector<uint8_t>;

inline ws::SocketAddress Address(uint16_t port) {
    ws::SocketAddress a;
    a.ip = ws::kAddressLoopback;
    a.port = port;
    return a;
}

// A port nobody listens on right now.
inline uint16_t FreePort() {
    const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
    ws::bind(s, Address(0));
    ws::SocketAddress a;
    ws::getsockname(s, &a);
    ws::closesocket(s);
    return a.port;
}

inline void RealPause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// Polls until done() holds; false after about maxMs of real time.
inline bool Pump(std::initializer_list<CTransport*> transports, const std::function<bool()>& done, int maxMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (std::chrono::steady_clock::now() < end) {
        for (CTransport* t : transports) t->Poll();
        if (done()) return true;
        RealPause();
    }
    return false;
}

struct Listener {
    ws::SOCKET s = ws::INVALID_SOCKET;
    uint16_t port = 0;
    explicit Listener(int backlog = 4) {
        s = ws::socket(ws::SocketKind::Stream);
        ws::bind(s, Address(0));
        ws::listen(s, backlog);
        ws::SetNonBlocking(s, true);
        ws::SocketAddress a;
        ws::getsockname(s, &a);
        port = a.port;
    }
    ~Listener() {
        if (s != ws::INVALID_SOCKET) ws::closesocket(s);
    }
    ws::SOCKET Accept() { return ws::accept(s, nullptr); }
};

// One connected plain socket, non-blocking.
struct Conn {
    ws::SOCKET s = ws::INVALID_SOCKET;
    Conn() = default;
    explicit Conn(ws::SOCKET sock) : s(sock) {
        if (s != ws::INVALID_SOCKET) ws::SetNonBlocking(s, true);
    }
    ~Conn() { Close(); }
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;
    bool Connect(uint16_t port) {
        s = ws::socket(ws::SocketKind::Stream);
        if (ws::connect(s, Address(port)) != 0) return false;
        ws::SetNonBlocking(s, true);
        return true;
    }
    void Close() {
        if (s != ws::INVALID_SOCKET) ws::closesocket(s);
        s = ws::INVALID_SOCKET;
    }
    // Abortive close: the peer sees a reset, as when a station is killed.
    void Kill() {
        ws::SetLinger(s, true, 0);
        Close();
    }
    bool SendAll(const Bytes& b) {
        size_t done = 0;
        for (int i = 0; i < 2000 && done < b.size(); ++i) {
            const int n = ws::send(s, b.data() + done, static_cast<int>(b.size() - done));
            if (n > 0) done += static_cast<size_t>(n);
            else RealPause();
        }
        return done == b.size();
    }
    // Whatever arrived so far (waiting up to waitMs for the first byte).
    Bytes Read(int waitMs = 200) {
        Bytes out;
        ws::WaitSocket(s, ws::kWaitRead, waitMs);
        uint8_t buf[65536];
        for (;;) {
            const int n = ws::recv(s, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
};

struct Frame {
    int type;
    Bytes payload;
};

// Splits a received stream into audio bytes and whole control frames.
inline void Split(const Bytes& stream, Bytes* audio, std::vector<Frame>* frames) {
    Bytes rest = stream;
    for (;;) {
        const ControlFrameMatch m = FindControlFrame(rest.data(), static_cast<int>(rest.size()), 1 << 20);
        if (m.status != ControlFrameMatch::Found) break;
        if (audio) audio->insert(audio->end(), rest.begin(), rest.begin() + m.offset);
        if (frames) {
            frames->push_back({m.type, Bytes(rest.begin() + m.offset + 16, rest.begin() + m.offset + 16 + m.length)});
        }
        rest.erase(rest.begin(), rest.begin() + m.offset + 16 + m.length);
    }
    if (audio) audio->insert(audio->end(), rest.begin(), rest.end());
}

inline Bytes MakeFrame(int type, const Bytes& payload) {
    Bytes out(16 + payload.size());
    BuildControlFrame(type, payload.data(), static_cast<int>(payload.size()), out.data(), static_cast<int>(out.size()));
    return out;
}

inline Bytes FormatPayload(const AudioFormat& f, int connectionType = 0, int mode = 0, int ms = 0) {
    Bytes p(kFormatFrameBytes);
    StoreAudioFormat(f, p.data());
    PutLe32(p.data() + 72, 1);
    BufferingValues b;
    b.connectionType = connectionType;
    b.bufferingMode = mode;
    b.bufferMs = ms;
    StoreBufferingValues(b, p.data() + 76);
    return p;
}

}  // namespace loopback
