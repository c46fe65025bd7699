// velmora-isdn-exchange: the simulated ISDN exchange as a daemon.
//   velmora-isdn-exchange --config FILE [--socket PATH] [--capture DIR] [--trace FILE]
// The socket defaults to $VELMORA_ISDN_EXCHANGE. Runs until SIGTERM or SIGINT.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/capi/ExchangeProtocol.h"
#include "platform/exchange/Exchange.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int64_t NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int Listen(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return -1;
    std::strcpy(addr.sun_path, path.c_str());
    unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Client {
    int app = 0;  // 0 until it registers
};

}  // namespace

int main(int argc, char** argv) {
    std::string configPath, socketPath, captureDir, tracePath;
    if (const char* env = std::getenv(kExchangeSocketVariable)) socketPath = env;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--config") configPath = argv[i + 1];
        else if (key == "--socket") socketPath = argv[i + 1];
        else if (key == "--capture") captureDir = argv[i + 1];
        else if (key == "--trace") tracePath = argv[i + 1];
        else {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if (configPath.empty() || socketPath.empty()) {
        std::fprintf(stderr, "usage: %s --config FILE [--socket PATH] [--capture DIR] [--trace FILE]\n", argv[0]);
        return 2;
    }
    ExchangeConfig config;
    std::string error;
    if (!LoadExchangeConfig(configPath, &config, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const int listener = Listen(socketPath);
    if (listener < 0) {
        std::fprintf(stderr, "cannot listen on %s: %s\n", socketPath.c_str(), std::strerror(errno));
        return 1;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::map<int, Client> clients;  // by socket
    std::map<int, int> sockets;     // by application
    CExchange exchange(config, [&sockets](int app, const std::vector<uint8_t>& packet) {
        const auto it = sockets.find(app);
        // A full socket means the application stopped reading: the packet is lost, as on a line.
        if (it != sockets.end()) send(it->second, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    exchange.SetRecording(captureDir, tracePath);

    std::vector<uint8_t> buffer(kExchangePacketBytes + 4096);
    while (!g_stop) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const auto& [fd, client] : clients) fds.push_back({fd, POLLIN, 0});
        const int64_t waitUs = exchange.NextEventUs(NowUs());
        const int timeoutMs = static_cast<int>((waitUs + 999) / 1000);
        if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) break;
        exchange.Advance(NowUs());
        if (fds[0].revents & POLLIN) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients[fd] = Client();
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const int fd = fds[i].fd;
            Client& client = clients[fd];
            const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) {
                if (client.app) {
                    exchange.Release(client.app);
                    sockets.erase(client.app);
                }
                close(fd);
                clients.erase(fd);
                continue;
            }
            const uint8_t* p = buffer.data();
            const size_t n = static_cast<size_t>(got);
            if (p[0] == kExchangeRegister && n >= 9 && client.app == 0) {
                uint32_t blocks, length;
                std::memcpy(&blocks, p + 1, 4);
                std::memcpy(&length, p + 5, 4);
                const int app = exchange.Register(blocks, length);
                const uint8_t reply[5] = {static_cast<uint8_t>(kExchangeRegister),
                                          static_cast<uint8_t>(app ? 0 : 0x01), static_cast<uint8_t>(app ? 0 : 0x10),
                                          static_cast<uint8_t>(app), static_cast<uint8_t>(app >> 8)};
                if (app) {
                    client.app = app;
                    sockets[app] = fd;
                }
                send(fd, reply, sizeof reply, MSG_NOSIGNAL);
            } else if (p[0] == kExchangeProfile && n >= 5) {
                uint32_t controller;
                std::memcpy(&controller, p + 1, 4);
                uint8_t reply[3 + 64] = {static_cast<uint8_t>(kExchangeProfile)};
                const uint16_t info = exchange.Profile(controller, reply + 3);
                reply[1] = static_cast<uint8_t>(info);
                reply[2] = static_cast<uint8_t>(info >> 8);
                send(fd, reply, sizeof reply, MSG_NOSIGNAL);
            } else if (p[0] == kExchangeQuery) {
                const std::string answer =
                    std::string(1, kExchangeQuery) +
                    exchange.Query(std::string(reinterpret_cast<const char*>(p + 1), n - 1), NowUs());
                send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            } else if (p[0] == kExchangeMessage && client.app && n >= 9) {
                const size_t length = std::min<size_t>(p[1] | (p[2] << 8), n - 1);
                exchange.OnMessage(client.app, p + 1, length, p + 1 + length, n - 1 - length, NowUs());
            }
        }
    }
    for (const auto& [fd, client] : clients) close(fd);
    close(listener);
    unlink(socketPath.c_str());
    return 0;
}
