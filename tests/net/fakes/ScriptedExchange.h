#pragma once
// A scripted stand-in for the exchange behind our CAPI library: it answers
// profile and registration requests by itself, keeps every CAPI message the
// application puts, and delivers exactly the messages a test gives it. Its
// own thread serves the socket; tests wait on the events with a bound.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capi/ExchangeProtocol.h"

class CScriptedExchange {
public:
    CScriptedExchange(std::string path, int channels) : m_path(std::move(path)), m_channels(channels) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_path.c_str(), sizeof addr.sun_path - 1);
        unlink(m_path.c_str());
        m_listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_listener, 16);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CScriptedExchange() {
        m_stop.store(true, std::memory_order_release);
        m_thread.join();
        for (int fd : m_clients) close(fd);
        close(m_listener);
        unlink(m_path.c_str());
    }

    // The next message of that command and subcommand the application put
    // (earlier ones of other kinds stay queued).
    bool WaitFor(uint8_t command, uint8_t sub, std::vector<uint8_t>* out, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (auto it = m_messages.begin(); it != m_messages.end(); ++it) {
                if ((*it)[4] == command && (*it)[5] == sub) {
                    if (out) *out = *it;
                    m_messages.erase(it);
                    return true;
                }
            }
            return false;
        });
    }
    // Messages of that kind put so far and not yet taken.
    int Pending(uint8_t command, uint8_t sub) {
        std::lock_guard<std::mutex> lock(m_lock);
        int n = 0;
        for (const auto& m : m_messages) n += (m[4] == command && m[5] == sub) ? 1 : 0;
        return n;
    }
    void Deliver(const std::vector<uint8_t>& message, const std::vector<uint8_t>& data = {}) {
        std::vector<uint8_t> packet(1, static_cast<uint8_t>(kExchangeMessage));
        packet.insert(packet.end(), message.begin(), message.end());
        packet.insert(packet.end(), data.begin(), data.end());
        std::lock_guard<std::mutex> lock(m_lock);
        send(m_appSocket, packet.data(), packet.size(), MSG_NOSIGNAL);
    }
    uint16_t AppId() const { return 1; }

private:
    void Serve() {
        while (!m_stop.load(std::memory_order_acquire)) {
            std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
            for (int fd : m_clients) fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 10) <= 0) continue;
            if (fds[0].revents & POLLIN) m_clients.push_back(accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                uint8_t buf[kExchangePacketBytes];
                const ssize_t n = recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n <= 0) continue;
                if (buf[0] == kExchangeProfile) {
                    uint8_t reply[3 + 64] = {static_cast<uint8_t>(kExchangeProfile)};
                    reply[3] = 1;  // one controller
                    reply[5] = static_cast<uint8_t>(m_channels);
                    send(fds[i].fd, reply, sizeof reply, MSG_NOSIGNAL);
                } else if (buf[0] == kExchangeRegister) {
                    const uint8_t reply[5] = {static_cast<uint8_t>(kExchangeRegister), 0, 0, 1, 0};
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_appSocket = fds[i].fd;
                    send(fds[i].fd, reply, sizeof reply, MSG_NOSIGNAL);
                } else if (buf[0] == kExchangeMessage && n >= 9) {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_messages.emplace_back(buf + 1, buf + n);
                    m_changed.notify_all();
                }
            }
        }
    }

    std::string m_path;
    int m_channels;
    int m_listener = -1;
    int m_appSocket = -1;
    std::vector<int> m_clients;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::vector<uint8_t>> m_messages;
    std::thread m_thread;
};
