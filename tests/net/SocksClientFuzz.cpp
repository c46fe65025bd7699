// Any bytes as a SOCKS proxy's replies: the client's hand-shake ends, reads
// nothing beyond what it asked for, and reports success exactly when it
// returns 1. A loopback "proxy" thread sends the bytes and hangs up.
//
// Byte 0 picks the client: bit 0 SOCKS 5 (else 4), bit 1 user and password,
// bit 2 a host name (else an address). The rest is what the proxy says.
#include <cstdint>
#include <thread>
#include <vector>

#include "net/SocksClient.h"
#include "platform/WinSock.h"

namespace {

struct Loopback {
    ws::SOCKET listener = ws::INVALID_SOCKET;
    int port = 0;

    Loopback() {
        ws::WSAStartup(0x0202);
        listener = ws::socket(ws::SocketKind::Stream);
        ws::SocketAddress any;
        any.ip = 0x7F000001;
        any.port = 0;
        ws::SocketAddress bound;
        if (ws::bind(listener, any) != 0 || ws::listen(listener, 4) != 0 || ws::getsockname(listener, &bound) != 0)
            __builtin_trap();
        port = bound.port;
    }
};

// Accepts one client, says `reply`, ends its stream and reads until the
// client closes, so that nothing is reset under the client's feet.
void Proxy(ws::SOCKET listener, std::vector<uint8_t> reply) {
    if (ws::WaitSocket(listener, ws::kWaitRead, 10000) <= 0) return;
    const ws::SOCKET s = ws::accept(listener, nullptr);
    if (s == ws::INVALID_SOCKET) return;
    int sent = 0;
    while (sent < static_cast<int>(reply.size())) {
        const int n = ws::send(s, reply.data() + sent, static_cast<int>(reply.size()) - sent);
        if (n <= 0) break;
        sent += n;
    }
    ws::shutdown(s, ws::SD_SEND);
    uint8_t scratch[512];
    while (ws::WaitSocket(s, ws::kWaitRead, 10000) > 0 && ws::recv(s, scratch, sizeof scratch) > 0) {
    }
    ws::closesocket(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    static Loopback loop;
    const int version = (data[0] & 1) ? 5 : 4;
    CSocksClient client;
    if (!client.Init(version, "127.0.0.1", loop.port)) __builtin_trap();
    if (data[0] & 2) client.SetLogin("operator", "secret");
    client.SetTimeout(10000);
    std::thread proxy(Proxy, loop.listener, std::vector<uint8_t>(data + 1, data + size));
    const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
    const int ok = client.Connect(s, (data[0] & 4) ? "studio.example" : "10.1.2.3", 2000, 0);
    ws::closesocket(s);
    proxy.join();
    const int error = client.GetLastError();
    // Success and an error code never come together, nor failure without one.
    if (ok != 0 && ok != 1) __builtin_trap();
    if ((ok == 1) != (error == 0)) __builtin_trap();
    if (error != 0 && (error & kSocksErrorFlag) == 0) __builtin_trap();
    return 0;
}
