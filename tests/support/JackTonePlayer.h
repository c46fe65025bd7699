#pragma once
// A JACK client of the test's own that plays a sine into named input ports
// of the server the test started (JACK_DEFAULT_SERVER): the level sent is
// known exactly, and no peer player can fail under load. One output port per
// target, each carrying the same sine; the process callback only computes
// samples. Stop (or the destructor) closes the client, so no callback runs
// once the player is gone.
#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

class CJackTonePlayer {
public:
    static constexpr size_t kMaxPorts = 8;

    CJackTonePlayer() = default;
    ~CJackTonePlayer() { Stop(); }
    CJackTonePlayer(const CJackTonePlayer&) = delete;
    CJackTonePlayer& operator=(const CJackTonePlayer&) = delete;

    // Plays `hz` at `amplitude` (1 is full scale) into each of `targets`,
    // connecting to them once they exist and their client is active (up to
    // `timeout`). False, with Error() saying why, when that did not happen.
    bool Start(const std::vector<std::string>& targets, double hz, double amplitude,
               std::chrono::seconds timeout = std::chrono::seconds(60)) {
        if (m_client || targets.empty() || targets.size() > kMaxPorts) return Fail("bad start");
        jack_status_t status{};
        m_client = jack_client_open("velmora-tone", JackNoStartServer, &status);
        if (m_client == nullptr) return Fail("no JACK server (status " + std::to_string(status) + ")");
        m_amplitude = amplitude;
        m_step = 2 * std::numbers::pi * hz / jack_get_sample_rate(m_client);
        for (size_t i = 0; i < targets.size(); ++i) {
            m_ports[i] = jack_port_register(m_client, ("out_" + std::to_string(i + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsOutput, 0);
            if (m_ports[i] == nullptr) return Fail("could not register a port");
        }
        m_portCount.store(targets.size(), std::memory_order_release);
        jack_set_process_callback(m_client, &CJackTonePlayer::Process, this);
        jack_set_port_registration_callback(m_client, &CJackTonePlayer::PortRegistered, this);
        jack_set_graph_order_callback(m_client, &CJackTonePlayer::GraphChanged, this);
        if (jack_activate(m_client) != 0) return Fail("could not activate");
        return ConnectAll(targets, std::chrono::steady_clock::now() + timeout);
    }

    void Stop() {
        if (m_client == nullptr) return;
        jack_deactivate(m_client);  // returns once no process cycle runs
        jack_client_close(m_client);
        m_client = nullptr;
        m_portCount.store(0, std::memory_order_release);
    }

    const std::string& Error() const { return m_error; }

private:
    bool Fail(const std::string& why) {
        m_error = why;
        Stop();
        return false;
    }

    // Connects each output to its target, trying again whenever the server's
    // ports or graph change; a client's activation has no notice of its own,
    // so a look every 100 ms covers that.
    bool ConnectAll(const std::vector<std::string>& targets, std::chrono::steady_clock::time_point end) {
        std::vector<bool> done(targets.size(), false);
        for (;;) {
            size_t connected = 0;
            for (size_t i = 0; i < targets.size(); ++i) {
                if (!done[i] && jack_port_by_name(m_client, targets[i].c_str()) != nullptr) {
                    const int r = jack_connect(m_client, jack_port_name(m_ports[i]), targets[i].c_str());
                    done[i] = r == 0 || r == EEXIST;
                }
                connected += done[i] ? 1 : 0;
            }
            if (connected == targets.size()) return true;
            if (std::chrono::steady_clock::now() >= end)
                return Fail("the target ports did not appear or could not be connected");
            // Unlocked again before any call into the server, whose
            // notification thread takes this lock.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait_until(lock, std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)),
                                 [this] { return m_changes > 0; });
            m_changes = 0;
        }
    }

    void Changed() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);  // the notification thread, not the process thread
            ++m_changes;
        }
        m_changed.notify_all();
    }
    static void PortRegistered(jack_port_id_t, int, void* arg) { static_cast<CJackTonePlayer*>(arg)->Changed(); }
    static int GraphChanged(void* arg) {
        static_cast<CJackTonePlayer*>(arg)->Changed();
        return 0;
    }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CJackTonePlayer*>(arg);
        const size_t ports = self->m_portCount.load(std::memory_order_acquire);
        double phase = self->m_phase;
        for (size_t p = 0; p < ports; ++p) {
            auto* out = static_cast<float*>(jack_port_get_buffer(self->m_ports[p], frames));
            phase = self->m_phase;
            for (jack_nframes_t k = 0; k < frames; ++k) {
                out[k] = static_cast<float>(self->m_amplitude * std::sin(phase));
                phase += self->m_step;
                if (phase >= 2 * std::numbers::pi) phase -= 2 * std::numbers::pi;
            }
        }
        self->m_phase = phase;
        return 0;
    }

    jack_client_t* m_client = nullptr;
    std::array<jack_port_t*, kMaxPorts> m_ports{};
    std::atomic<size_t> m_portCount{0};  // published before activation
    double m_amplitude = 0;
    double m_step = 0;
    double m_phase = 0;  // the process thread's alone
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_changes = 0;
    std::string m_error;
};
