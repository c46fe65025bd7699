// Virtual endpoints: each running client has a thread that moves one period
// of 48 kHz stereo at a time, on a real or simulated clock.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/AuxletBackend.h"
#include "platform/SimulatedDevices.h"
#include "platform/VirtualDeviceText.h"
#include "platform/VirtualEndpoints.h"
#include "platform/VirtualWave.h"

namespace {

struct EndpointEntry {
    VirtualEndpointConfig config;
    std::atomic<float> volume[2] = {1.0f, 1.0f};
    std::atomic<int> clients{0};
    std::unique_ptr<int16_t[]> sink;
    size_t sinkCapacity = 0;  // samples
    std::atomic<size_t> sinkWritten{0};
    std::atomic<uint64_t> played{0}, underrun{0}, captured{0}, overrun{0};
};

std::mutex g_mutex;  // guards the list
std::vector<std::shared_ptr<EndpointEntry>> g_entries;

bool Usable(const VirtualEndpointConfig& c) {
    return !c.name.empty() && c.name.size() < 100 && std::isfinite(c.rateErrorPercent) &&
           std::fabs(c.rateErrorPercent) < 50 && std::isfinite(c.toneHz) && std::isfinite(c.toneLevel) &&
           c.periodMs >= 1 && c.periodMs <= 100 && c.blockTimeMs >= 0 && c.blockTimeMs <= 1000 &&
           c.sinkSeconds >= 0 && c.sinkSeconds <= 3600;
}

std::shared_ptr<EndpointEntry> FindLocked(const std::string& name) {
    for (auto& e : g_entries)
        if (e->config.name == name) return e;
    return nullptr;
}

class CVirtualEndpointClient final : public CAuxletClient, public CSimulatedDevice {
public:
    CVirtualEndpointClient(std::shared_ptr<EndpointEntry> entry, int direction)
        : CAuxletClient(direction), m_entry(std::move(entry)), m_config(m_entry->config) {
        m_entry->clients.fetch_add(1, std::memory_order_acq_rel);
    }
    ~CVirtualEndpointClient() override {
        Close();
        m_entry->clients.fetch_sub(1, std::memory_order_acq_rel);
    }

    void Wake() override {
        m_event.fetch_add(1, std::memory_order_release);
        m_event.notify_all();
    }

private:
    bool OpenStream(int* blockMs) override {
        if (m_config.blockTimeMs > 0) *blockMs = m_config.blockTimeMs;
        EndpointEntry& e = *m_entry;
        if (m_direction == 0) {
            e.sinkCapacity = static_cast<size_t>(m_config.sinkSeconds) * 48000 * 2;
            e.sink.reset(e.sinkCapacity ? new (std::nothrow) int16_t[e.sinkCapacity]() : nullptr);
            if (e.sinkCapacity && !e.sink) {
                SetError("Not enough memory.");
                return false;
            }
            e.sinkWritten.store(0, std::memory_order_release);
            e.played.store(0, std::memory_order_relaxed);
            e.underrun.store(0, std::memory_order_relaxed);
        } else {
            e.captured.store(0, std::memory_order_relaxed);
            e.overrun.store(0, std::memory_order_relaxed);
        }
        return true;
    }

    bool StartStream() override {
        m_stop.store(0, std::memory_order_relaxed);
        m_frames = 0;
        m_startMs = VirtualWaveNowMs();
        m_realStart = std::chrono::steady_clock::now();
        if (m_config.simulatedClock) {
            ReportDone(m_startMs);
            SimulatedDeviceAdd(this);
        }
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    void StopStream() override {
        if (!m_thread.joinable()) return;
        if (m_config.simulatedClock) SimulatedDeviceRemove(this);
        m_stop.store(1, std::memory_order_release);
        Wake();
        m_thread.join();
    }

    void CloseStream() override {}

    void Period(int frames) {
        EndpointEntry& e = *m_entry;
        std::vector<int16_t>& buf = m_buffer;
        if (m_direction == 0) {
            const int got = Pull(reinterpret_cast<uint8_t*>(buf.data()), frames * 4) / 4;
            std::fill(buf.begin() + 2 * got, buf.begin() + 2 * frames, 0);
            e.played.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
            e.underrun.fetch_add(static_cast<uint64_t>(frames - got), std::memory_order_relaxed);
            if (e.sink) {
                const size_t w = e.sinkWritten.load(std::memory_order_relaxed);
                const size_t n = std::min<size_t>(2 * static_cast<size_t>(frames), e.sinkCapacity - std::min(w, e.sinkCapacity));
                std::memcpy(e.sink.get() + w, buf.data(), n * 2);
                e.sinkWritten.store(w + n, std::memory_order_release);
            }
            return;
        }
        const double speed = 1.0 + m_config.rateErrorPercent / 100.0;
        const double amp = std::clamp(m_config.toneLevel, 0.0, 1.0) * 32767.0;
        const int ch = m_channels;
        for (int i = 0; i < frames; ++i) {
            const double t = static_cast<double>(m_frames + static_cast<uint64_t>(i)) / (48000.0 * speed);
            buf[ch * i] = static_cast<int16_t>(std::lround(amp * std::sin(std::fmod(2 * M_PI * m_config.toneHz * t, 2 * M_PI))));
            if (ch == 2)
                buf[2 * i + 1] = static_cast<int16_t>(
                    std::lround(amp * std::sin(std::fmod(3 * M_PI * m_config.toneHz * t, 2 * M_PI))));
        }
        const int stored = Push(reinterpret_cast<const uint8_t*>(buf.data()), frames * 2 * ch) / (2 * ch);
        e.captured.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
        e.overrun.fetch_add(static_cast<uint64_t>(frames - stored), std::memory_order_relaxed);
    }

    void Run() {
        const int period = 48 * m_config.periodMs;
        m_buffer.assign(2 * static_cast<size_t>(period), 0);
        const double speed = 1.0 + m_config.rateErrorPercent / 100.0;
        for (;;) {
            const uint32_t seen = m_event.load(std::memory_order_acquire);
            const uint64_t simNow = VirtualWaveNowMs();
            if (m_stop.load(std::memory_order_acquire)) break;
            const double ms = m_config.simulatedClock
                                  ? static_cast<double>(simNow - m_startMs)
                                  : std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_realStart).count();
            const auto target = static_cast<uint64_t>(ms * 48.0 * speed);
            while (m_frames + static_cast<uint64_t>(period) <= target && !m_stop.load(std::memory_order_acquire)) {
                Period(period);
                m_frames += static_cast<uint64_t>(period);
            }
            if (m_config.simulatedClock) {
                ReportDone(simNow);
                m_event.wait(seen, std::memory_order_acquire);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        ReportDone(~uint64_t{0});
    }

    std::shared_ptr<EndpointEntry> m_entry;
    VirtualEndpointConfig m_config;
    std::thread m_thread;
    std::atomic<int> m_stop{0};
    std::atomic<uint32_t> m_event{0};
    std::vector<int16_t> m_buffer;
    uint64_t m_frames = 0;
    uint64_t m_startMs = 0;
    std::chrono::steady_clock::time_point m_realStart;
};

}  // namespace

void VirtualEndpointsLoad() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* env = std::getenv("VELMORA_VIRTUAL_ENDPOINTS");
        VirtualEndpointConfig c;
        if (env && *env && VirtualEndpointParse(env, &c)) VirtualEndpointAdd(c);
    });
}

std::vector<std::string> VirtualEndpointNames() {
    VirtualEndpointsLoad();
    std::lock_guard lock(g_mutex);
    std::vector<std::string> names;
    for (auto& e : g_entries) names.push_back(e->config.name);
    return names;
}

bool VirtualEndpointVolume(const std::string& name, int direction, float* get, const float* set) {
    std::lock_guard lock(g_mutex);
    auto e = FindLocked(name);
    if (!e) return false;
    std::atomic<float>& v = e->volume[direction ? 1 : 0];
    if (set) v.store(std::clamp(*set, 0.0f, 1.0f), std::memory_order_relaxed);
    if (get) *get = v.load(std::memory_order_relaxed);
    return true;
}

CAuxletClient* VirtualEndpointClient(const std::string& name, int direction) {
    std::lock_guard lock(g_mutex);
    auto e = FindLocked(name);
    if (!e) return nullptr;
    return new (std::nothrow) CVirtualEndpointClient(e, direction);
}

int VirtualEndpointAdd(const VirtualEndpointConfig& config) {
    if (!Usable(config)) return 0;
    VirtualEndpointsLoad();
    std::lock_guard lock(g_mutex);
    if (FindLocked(config.name)) return 0;
    auto e = std::make_shared<EndpointEntry>();
    e->config = config;
    g_entries.push_back(std::move(e));
    return 1;
}

int VirtualEndpointClear() {
    std::lock_guard lock(g_mutex);
    int all = 1;
    for (auto& e : g_entries)
        if (e->clients.load(std::memory_order_acquire)) all = 0;
    g_entries.clear();  // a client keeps its endpoint alive
    return all;
}

int VirtualEndpointGetStats(const char* name, VirtualEndpointStats* stats) {
    if (name == nullptr || stats == nullptr) return 0;
    std::lock_guard lock(g_mutex);
    auto e = FindLocked(name);
    if (!e) return 0;
    stats->framesPlayed = e->played.load(std::memory_order_relaxed);
    stats->underrunFrames = e->underrun.load(std::memory_order_relaxed);
    stats->framesCaptured = e->captured.load(std::memory_order_relaxed);
    stats->overrunFrames = e->overrun.load(std::memory_order_relaxed);
    stats->volume[0] = e->volume[0].load(std::memory_order_relaxed);
    stats->volume[1] = e->volume[1].load(std::memory_order_relaxed);
    return 1;
}

size_t VirtualEndpointReadSink(const char* name, size_t from, int16_t* dst, size_t max) {
    if (name == nullptr || dst == nullptr) return 0;
    std::lock_guard lock(g_mutex);
    auto e = FindLocked(name);
    if (!e || !e->sink) return 0;
    const size_t written = std::min(e->sinkWritten.load(std::memory_order_acquire), e->sinkCapacity);
    if (from >= written) return 0;
    const size_t n = std::min(max, written - from);
    std::memcpy(dst, e->sink.get() + from, n * sizeof(int16_t));
    return n;
}

int VirtualEndpointParse(const char* text, VirtualEndpointConfig* config) {
    if (text == nullptr || config == nullptr) return 0;
    VirtualEndpointConfig c;
    const bool read = ReadVirtualDeviceText(text, &c.name, [&c](std::string_view key, std::string_view value) {
        const VirtualSettingUse use = TakeCommonVirtualSetting(c, key, value);
        if (use != VirtualSettingUse::NotCommon) return use == VirtualSettingUse::Taken;
        double d = 0;
        if (!ParseVirtualNumber(value, &d)) return false;
        if (key == "period") {
            c.periodMs = static_cast<int>(d);
        } else if (key == "block") {
            c.blockTimeMs = static_cast<int>(d);
        } else {
            return false;
        }
        return true;
    });
    if (!read || !Usable(c)) return 0;
    *config = c;
    return 1;
}
