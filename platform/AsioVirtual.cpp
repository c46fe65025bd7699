// Virtual ASIO drivers: the buffer switch runs on the driver's own thread,
// once per period of a real or simulated clock at rate x (1 + error).
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/AsioDriverBase.h"
#include "platform/AsioDrivers.h"
#include "platform/SimulatedDevices.h"
#include "platform/VirtualDeviceText.h"
#include "platform/VirtualAsio.h"
#include "platform/VirtualWave.h"

namespace {

struct VirtualAsioEntry {
    VirtualAsioConfig config;
    CLSID clsid;
    std::atomic<int> open{0};
    std::unique_ptr<int16_t[]> sink;  // stereo frames; sized at start
    size_t sinkFrames = 0;
    std::atomic<size_t> sinkWritten{0};  // frames
    std::atomic<uint64_t> switches{0};
    std::atomic<long> bufferSize{0};
};

std::mutex g_mutex;  // guards the entry list
std::vector<std::shared_ptr<VirtualAsioEntry>> g_entries;

bool Usable(const VirtualAsioConfig& c) {
    return !c.name.empty() && c.name.size() < 100 && std::isfinite(c.rateErrorPercent) &&
           std::fabs(c.rateErrorPercent) < 50.0 && c.sampleRate >= 8000 && c.sampleRate <= 192000 &&
           c.minSize >= 1 && c.minSize <= c.preferredSize && c.preferredSize <= c.maxSize && c.maxSize <= 8192 &&
           (c.sampleType == 16 || c.sampleType == 18) && c.inputs >= 0 && c.inputs <= 32 && c.outputs >= 0 &&
           c.outputs <= 32 && std::isfinite(c.toneHz) && std::isfinite(c.toneLevel) && c.sinkSeconds >= 0 &&
           c.sinkSeconds <= 3600;
}

// A class id of the driver's own, from its name, so that drivers added by
// different processes that share one registry never meet.
CLSID ClassIdFor(const std::string& name) {
    uint64_t h = 1469598103934665603ull;
    for (const char ch : name) h = (h ^ static_cast<uint8_t>(ch)) * 1099511628211ull;
    CLSID id;
    id.data1 = 0x56415349;  // "VASI"
    id.data2 = 0x4F00;
    id.data3 = 0x0001;
    for (int i = 0; i < 8; ++i) id.data4[i] = static_cast<uint8_t>(h >> (8 * i));
    return id;
}

class CVirtualAsioDriver final : public CAsioDriverBase, public CSimulatedDevice {
public:
    explicit CVirtualAsioDriver(std::shared_ptr<VirtualAsioEntry> entry)
        : CAsioDriverBase(entry->config.name, entry->config.inputs, entry->config.outputs, entry->config.sampleType),
          m_entry(std::move(entry)),
          m_config(m_entry->config) {
        m_rate = m_config.sampleRate;
    }

    ASIOBool init(void*) override { return ASIOTrue; }
    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferred, long* granularity) override {
        if (minSize) *minSize = m_config.minSize;
        if (maxSize) *maxSize = m_config.maxSize;
        if (preferred) *preferred = m_config.preferredSize;
        if (granularity) *granularity = 1;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate rate) override { return rate == m_rate ? ASE_OK : ASE_NoClock; }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        if (rate) *rate = m_rate;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override { return canSampleRate(rate); }
    ASIOError outputReady() override { return ASE_OK; }

    ASIOError start() override {
        if (m_channels.empty()) return ASE_InvalidMode;
        if (m_thread.joinable()) return ASE_OK;
        VirtualAsioEntry& e = *m_entry;
        e.sinkFrames = static_cast<size_t>(m_config.sinkSeconds) * static_cast<size_t>(m_rate);
        e.sink.reset(e.sinkFrames ? new (std::nothrow) int16_t[2 * e.sinkFrames]() : nullptr);
        if (e.sinkFrames && !e.sink) return ASE_NoMemory;
        e.sinkWritten.store(0, std::memory_order_release);
        e.switches.store(0, std::memory_order_relaxed);
        e.bufferSize.store(m_bufferSize, std::memory_order_relaxed);
        m_stop.store(0, std::memory_order_relaxed);
        m_frames = 0;
        m_startMs = VirtualWaveNowMs();
        m_realStart = std::chrono::steady_clock::now();
        if (m_config.simulatedClock) {
            ReportDone(m_startMs);
            SimulatedDeviceAdd(this);
        }
        m_thread = std::thread([this] { Run(); });
        return ASE_OK;
    }

    ASIOError stop() override {
        if (!m_thread.joinable()) return ASE_OK;
        if (m_config.simulatedClock) SimulatedDeviceRemove(this);
        m_stop.store(1, std::memory_order_release);
        Wake();
        m_thread.join();
        return ASE_OK;
    }

    void Wake() override {
        m_event.fetch_add(1, std::memory_order_release);
        m_event.notify_all();
    }

    unsigned long Release() override {
        disposeBuffers();
        m_entry->open.store(0, std::memory_order_release);
        delete this;
        return 0;
    }

private:
    uint64_t TargetFrames(uint64_t simNow) const {
        double ms;
        if (m_config.simulatedClock) {
            ms = static_cast<double>(simNow - m_startMs);
        } else {
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_realStart).count();
        }
        return static_cast<uint64_t>(ms * m_rate * (1.0 + m_config.rateErrorPercent / 100.0) / 1000.0);
    }

    // Channel k plays the tone, odd channels at 1.5 times its frequency, on
    // a clock that runs fast by the rate error.
    void FillInput(const Channel& c, uint8_t* half) {
        const double speed = 1.0 + m_config.rateErrorPercent / 100.0;
        const double hz = m_config.toneHz * (c.number % 2 ? 1.5 : 1.0);
        const double step = 2.0 * M_PI * hz / (m_rate * speed);
        const double amp = std::clamp(m_config.toneLevel, 0.0, 1.0);
        const double phase0 = static_cast<double>(m_frames) * step;
        for (long i = 0; i < m_bufferSize; ++i) {
            const double v = amp * std::sin(std::fmod(phase0 + static_cast<double>(i) * step, 2.0 * M_PI));
            if (m_type == ASIOSTInt16LSB) {
                const auto s = static_cast<int16_t>(std::lround(v * 32767.0));
                std::memcpy(half + 2 * i, &s, 2);
            } else {
                const auto s = static_cast<int32_t>(std::lround(v * 2147483647.0));
                std::memcpy(half + 4 * i, &s, 4);
            }
        }
    }

    void KeepOutput(int ordinal, const uint8_t* half) {
        VirtualAsioEntry& e = *m_entry;
        if (ordinal > 1 || !e.sink) return;
        const size_t w = e.sinkWritten.load(std::memory_order_relaxed);
        for (long i = 0; i < m_bufferSize && w + static_cast<size_t>(i) < e.sinkFrames; ++i) {
            int16_t s;
            if (m_type == ASIOSTInt16LSB) {
                std::memcpy(&s, half + 2 * i, 2);
            } else {
                int32_t v;
                std::memcpy(&v, half + 4 * i, 4);
                s = static_cast<int16_t>(v >> 16);
            }
            e.sink[2 * (w + static_cast<size_t>(i)) + static_cast<size_t>(ordinal)] = s;
        }
    }

    void Period() {
        int ordinal = 0;
        RunPeriod([this](const Channel& c, uint8_t* half) { FillInput(c, half); },
                  [this, &ordinal](const Channel&, uint8_t* half) { KeepOutput(ordinal++, half); });
        VirtualAsioEntry& e = *m_entry;
        const size_t w = e.sinkWritten.load(std::memory_order_relaxed);
        e.sinkWritten.store(std::min(w + static_cast<size_t>(m_bufferSize), e.sinkFrames), std::memory_order_release);
        e.switches.fetch_add(1, std::memory_order_relaxed);
        m_frames += static_cast<uint64_t>(m_bufferSize);
    }

    void Run() {
        for (;;) {
            const uint32_t seen = m_event.load(std::memory_order_acquire);
            const uint64_t simNow = VirtualWaveNowMs();
            if (m_stop.load(std::memory_order_acquire)) break;
            const uint64_t target = TargetFrames(simNow);
            while (m_frames + static_cast<uint64_t>(m_bufferSize) <= target &&
                   !m_stop.load(std::memory_order_acquire))
                Period();
            if (m_config.simulatedClock) {
                ReportDone(simNow);
                m_event.wait(seen, std::memory_order_acquire);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        ReportDone(~uint64_t{0});
    }

    std::shared_ptr<VirtualAsioEntry> m_entry;
    VirtualAsioConfig m_config;
    std::thread m_thread;
    std::atomic<int> m_stop{0};
    std::atomic<uint32_t> m_event{0};
    uint64_t m_frames = 0;
    uint64_t m_startMs = 0;
    std::chrono::steady_clock::time_point m_realStart;
};

void* MakeVirtualDriver(const CLSID& clsid) {
    std::lock_guard lock(g_mutex);
    for (auto& e : g_entries) {
        if (!(e->clsid == clsid)) continue;
        int closed = 0;
        if (!e->open.compare_exchange_strong(closed, 1, std::memory_order_acq_rel)) return nullptr;
        return static_cast<IAsioDriver*>(new (std::nothrow) CVirtualAsioDriver(e));
    }
    return nullptr;
}

std::shared_ptr<VirtualAsioEntry> FindLocked(const char* name) {
    for (auto& e : g_entries)
        if (name && e->config.name == name) return e;
    return nullptr;
}

}  // namespace

void AsioVirtualDriversLoad() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* env = std::getenv("VELMORA_VIRTUAL_ASIO");
        VirtualAsioConfig c;
        if (env && *env && VirtualAsioParse(env, &c)) VirtualAsioAdd(c);
    });
}

std::vector<AsioDriverListing> AsioVirtualDrivers() {
    std::lock_guard lock(g_mutex);
    std::vector<AsioDriverListing> all;
    for (auto& e : g_entries) all.push_back({e->config.name, e->clsid});
    return all;
}

int VirtualAsioAdd(const VirtualAsioConfig& config) {
    if (!Usable(config)) return 0;
    std::lock_guard lock(g_mutex);
    if (FindLocked(config.name.c_str()) || config.name == "JACK") return 0;
    auto e = std::make_shared<VirtualAsioEntry>();
    e->config = config;
    e->clsid = ClassIdFor(config.name);
    ComRegisterClass(e->clsid, &MakeVirtualDriver);
    g_entries.push_back(std::move(e));
    return 1;
}

int VirtualAsioClear() {
    std::lock_guard lock(g_mutex);
    int all = 1;
    for (auto& e : g_entries)
        if (e->open.load(std::memory_order_acquire)) all = 0;
    g_entries.clear();  // an open driver keeps its entry alive
    return all;
}

int VirtualAsioGetStats(const char* name, VirtualAsioStats* stats) {
    if (stats == nullptr) return 0;
    std::lock_guard lock(g_mutex);
    auto e = FindLocked(name);
    if (!e) return 0;
    stats->switches = e->switches.load(std::memory_order_relaxed);
    stats->framesPlayed = e->sinkWritten.load(std::memory_order_acquire);
    stats->bufferSize = e->bufferSize.load(std::memory_order_relaxed);
    return 1;
}

size_t VirtualAsioReadSink(const char* name, size_t from, int16_t* dst, size_t max) {
    if (dst == nullptr) return 0;
    std::lock_guard lock(g_mutex);
    auto e = FindLocked(name);
    if (!e || !e->sink) return 0;
    const size_t written = e->sinkWritten.load(std::memory_order_acquire);
    if (from >= written) return 0;
    const size_t frames = std::min(max / 2, written - from);
    std::memcpy(dst, e->sink.get() + 2 * from, frames * 2 * sizeof(int16_t));
    return frames * 2;
}

int VirtualAsioParse(const char* text, VirtualAsioConfig* config) {
    if (text == nullptr || config == nullptr) return 0;
    VirtualAsioConfig c;
    const bool read = ReadVirtualDeviceText(text, &c.name, [&c](std::string_view key, std::string_view value) {
        const VirtualSettingUse use = TakeCommonVirtualSetting(c, key, value);
        if (use != VirtualSettingUse::NotCommon) return use == VirtualSettingUse::Taken;
        double d = 0;
        if (!ParseVirtualNumber(value, &d)) return false;
        if (key == "type") {
            c.sampleType = static_cast<long>(d);
        } else if (key == "buffer") {
            c.preferredSize = static_cast<long>(d);
            c.minSize = std::min(c.minSize, c.preferredSize);
            c.maxSize = std::max(c.maxSize, c.preferredSize);
        } else if (key == "rate") {
            c.sampleRate = d;
        } else {
            return false;
        }
        return true;
    });
    if (!read || !Usable(c)) return 0;
    *config = c;
    return 1;
}
