// The JACK driver: a JACK client whose process callback is the buffer
// switch. Ports exist for the channels the host asked buffers for; samples
// cross as 32-bit integers.
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/AsioDriverBase.h"
#include "platform/AsioDrivers.h"

// {4A41434B-5645-4C4D-4F52-410000000001}
const CLSID kJackAsioClsid = {0x4A41434B, 0x5645, 0x4C4D, {0x4F, 0x52, 0x41, 0, 0, 0, 0, 1}};

namespace {

constexpr long kChannels = 8;  // offered each way; ports appear only for buffers made

class CJackAsioDriver final : public CAsioDriverBase {
public:
    CJackAsioDriver() : CAsioDriverBase("JACK", kChannels, kChannels, ASIOSTInt32LSB) {}

    ASIOBool init(void*) override {
        if (m_client) return ASIOTrue;
        jack_status_t status{};
        m_client = jack_client_open("Velmora", JackNoStartServer, &status);
        if (m_client == nullptr) {
            m_error = "No JACK server is running.";
            return ASIOFalse;
        }
        m_rate = jack_get_sample_rate(m_client);
        jack_set_process_callback(m_client, &CJackAsioDriver::Process, this);
        jack_on_shutdown(m_client, &CJackAsioDriver::Shutdown, this);
        return ASIOTrue;
    }

    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferred, long* granularity) override {
        if (!m_client) return ASE_NotPresent;
        const long n = static_cast<long>(jack_get_buffer_size(m_client));  // the server's period, fixed
        if (minSize) *minSize = n;
        if (maxSize) *maxSize = n;
        if (preferred) *preferred = n;
        if (granularity) *granularity = 0;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate rate) override {
        if (!m_client) return ASE_NotPresent;
        return rate == m_rate ? ASE_OK : ASE_NoClock;  // the server's rate is not ours to change
    }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        if (!m_client) return ASE_NotPresent;
        if (rate) *rate = m_rate;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override { return canSampleRate(rate); }

    ASIOError start() override {
        if (!m_client || m_channels.empty()) return ASE_InvalidMode;
        if (m_running.load(std::memory_order_acquire)) return ASE_OK;
        m_running.store(1, std::memory_order_release);
        if (jack_activate(m_client) != 0) {
            m_running.store(0, std::memory_order_release);
            return ASE_HWMalfunction;
        }
        return ASE_OK;
    }
    ASIOError stop() override {
        if (!m_client || !m_running.load(std::memory_order_acquire)) return ASE_OK;
        jack_deactivate(m_client);  // returns once no process cycle runs
        m_running.store(0, std::memory_order_release);
        return ASE_OK;
    }

    unsigned long Release() override {
        disposeBuffers();
        if (m_client) jack_client_close(m_client);
        delete this;
        return 0;
    }

private:
    bool ChannelsCreated() override {
        m_ports.clear();
        for (const Channel& c : m_channels) {
            char name[32];
            std::snprintf(name, sizeof name, "%s_%ld", c.input ? "in" : "out", c.number + 1);
            jack_port_t* p = jack_port_register(m_client, name, JACK_DEFAULT_AUDIO_TYPE,
                                                c.input ? JackPortIsInput : JackPortIsOutput, 0);
            if (p == nullptr) {
                ChannelsDisposed();
                return false;
            }
            m_ports.push_back(p);
        }
        return true;
    }
    void ChannelsDisposed() override {
        for (jack_port_t* p : m_ports) jack_port_unregister(m_client, p);
        m_ports.clear();
    }

    static int Process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CJackAsioDriver*>(arg);
        if (!self->m_running.load(std::memory_order_acquire)) return 0;
        if (static_cast<long>(frames) != self->m_bufferSize) {
            // The server changed its period under us: silence until restarted.
            for (jack_port_t* p : self->m_ports)
                if (jack_port_flags(p) & JackPortIsOutput)
                    std::memset(jack_port_get_buffer(p, frames), 0, frames * sizeof(float));
            return 0;
        }
        size_t i = 0, o = 0;
        self->RunPeriod(
            [self, frames, &i](const Channel&, uint8_t* half) {
                const auto* in = static_cast<const float*>(jack_port_get_buffer(self->InputPort(i++), frames));
                auto* out = reinterpret_cast<int32_t*>(half);
                for (jack_nframes_t k = 0; k < frames; ++k) {
                    const double v = std::clamp(static_cast<double>(in[k]), -1.0, 1.0) * 2147483647.0;
                    out[k] = static_cast<int32_t>(std::lrint(v));
                }
            },
            [self, frames, &o](const Channel&, uint8_t* half) {
                auto* out = static_cast<float*>(jack_port_get_buffer(self->OutputPort(o++), frames));
                const auto* in = reinterpret_cast<const int32_t*>(half);
                for (jack_nframes_t k = 0; k < frames; ++k) out[k] = static_cast<float>(in[k] / 2147483648.0);
            });
        return 0;
    }

    static void Shutdown(void* arg) {
        // The server went away: no more periods will come.
        static_cast<CJackAsioDriver*>(arg)->m_running.store(0, std::memory_order_release);
    }

    // The i-th input (output) port, in the order the channels were created.
    jack_port_t* InputPort(size_t i) const { return NthPort(true, i); }
    jack_port_t* OutputPort(size_t i) const { return NthPort(false, i); }
    jack_port_t* NthPort(bool input, size_t n) const {
        for (size_t k = 0; k < m_channels.size(); ++k)
            if (m_channels[k].input == input && n-- == 0) return m_ports[k];
        return nullptr;
    }

    jack_client_t* m_client = nullptr;
    std::vector<jack_port_t*> m_ports;  // one per channel, same order
    std::atomic<int> m_running{0};
};

void* MakeJackDriver(const CLSID&) { return static_cast<IAsioDriver*>(new (std::nothrow) CJackAsioDriver()); }

}  // namespace

void AsioJackRegisterClass() { ComRegisterClass(kJackAsioClsid, &MakeJackDriver); }
