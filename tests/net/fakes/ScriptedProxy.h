#pragma once
// A one-connection SOCKS proxy stand-in on 127.0.0.1: reads what the client
// sends, answers with prepared bytes and hangs up, or says nothing at all. Runs on its own
// thread, joined by the destructor.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"

namespace loopback {

class ScriptedProxy {
public:
    struct Step {
        size_t read;  // bytes to read from the client first
        Bytes reply;  // then sent back
    };

    explicit ScriptedProxy(std::vector<Step> steps, bool silent = false)
        : m_steps(std::move(steps)), m_silent(silent) {
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedProxy() {
        m_stop.store(true, std::memory_order_release);
        m_thread.join();
    }
    uint16_t Port() const { return m_listener.port; }
    // Everything the client sent, once the script has run (or stopped).
    Bytes Received() {
        while (!m_done.load(std::memory_order_acquire)) RealPause();
        return m_received;
    }

private:
    bool Stopped() const { return m_stop.load(std::memory_order_acquire); }

    void Run() {
        Conn client;
        while (!Stopped() && client.s == ws::INVALID_SOCKET) {
            client.s = m_listener.Accept();
            if (client.s == ws::INVALID_SOCKET) RealPause();
        }
        if (client.s != ws::INVALID_SOCKET) {
            ws::SetNonBlocking(client.s, true);
            for (const Step& step : m_steps) {
                size_t want = m_received.size() + step.read;
                while (!Stopped() && m_received.size() < want) {
                    uint8_t b[512];
                    const int n = ws::recv(client.s, b, static_cast<int>(std::min<size_t>(sizeof b, want - m_received.size())));
                    if (n > 0) m_received.insert(m_received.end(), b, b + n);
                    else if (n == 0) break;
                    else RealPause();
                }
                if (m_silent || Stopped()) break;
                client.SendAll(step.reply);
            }
        }
        m_done.store(true, std::memory_order_release);
        // A silent proxy holds the connection until the test ends; a scripted
        // one hangs up when its script is done.
        if (!m_silent) client.Close();
        while (!Stopped()) RealPause();
    }

    Listener m_listener;
    std::vector<Step> m_steps;
    bool m_silent;
    Bytes m_received;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

}  // namespace loopback
