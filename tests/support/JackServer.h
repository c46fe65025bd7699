#pragma once
// A JACK server of the test's own on the dummy driver (no sound card), named
// after the test process; this process's clients and the peer tools reach it
// through JACK_DEFAULT_SERVER, and it never meets another test's server.
#include <chrono>
#include <cstdlib>
#include <string>

#include "support/PeerProcess.h"

class CJackServer {
public:
    ~CJackServer() { Stop(); }

    // 48000 Hz, `period` frames; true once the server answers.
    bool Start(const std::string& logFile, int period = 1024) {
        m_name = "velmora-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        // No real-time scheduling and a generous client time-out: a loaded
        // machine must not make the server drop its clients.
        if (!m_server.Start({"jackd", "--no-realtime", "-n", m_name, "-t", "10000", "-d", "dummy", "-r", "48000",
                             "-p", std::to_string(period)},
                            logFile))
            return false;
        // A loaded server can answer a waiting client so late that the client
        // has already given up; ask again for as long as the server runs.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            int code = -1;
            RunCommand("jack_wait -w -t 10 2>&1", &code);
            if (code == 0) return m_server.Running();
            if (!m_server.Running() || std::chrono::steady_clock::now() >= end) return false;
        }
    }

    void Stop() {
        m_server.Stop();
        unsetenv("JACK_DEFAULT_SERVER");
    }

    std::string Ports() const { return RunCommand("jack_lsp 2>&1"); }
    std::string Log() const { return m_server.Log(); }

private:
    std::string m_name;
    CPeerProcess m_server;
};
