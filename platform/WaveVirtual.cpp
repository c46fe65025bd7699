// Virtual WAVE devices: frames move at rate x (1 + error) on a real or a
// simulated clock. The I/O thread produces a tone (or file) for capture and
// records playback into a buffer sized at open; files are read at open and
// written at close, never on the I/O thread.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/SimulatedDevices.h"
#include "platform/VirtualDeviceText.h"
#include "platform/WaveDeviceList.h"

namespace {

std::atomic<uint64_t> g_simNowMs{0};

std::mutex g_simMutex;                   // guards the list of simulated streams
std::vector<struct CVirtualStream*> g_simStreams;

struct CVirtualStream final : CWaveStream {
    CVirtualStream(WaveDeviceEntry& entry, const WAVEFORMATEX& f, WaveCallback cb, DWORD_PTR instance)
        : CWaveStream(entry.output, static_cast<int>(f.nSamplesPerSec), f.nChannels, cb, instance),
          m_dev(entry),
          m_config(entry.config),
          m_speed(1.0 + entry.config.rateErrorPercent / 100.0) {
        m_period = std::max(1, m_rate * m_config.periodMs / 1000);
        m_buffer.assign(static_cast<size_t>(m_period) * static_cast<size_t>(m_channels), 0);
        m_startMs = g_simNowMs.load(std::memory_order_acquire);
        m_simDone.store(m_startMs, std::memory_order_relaxed);
        m_realStart = std::chrono::steady_clock::now();
    }

    uint64_t TargetFrames(uint64_t simNow) const {
        double ms;
        if (m_config.simulatedClock) {
            ms = static_cast<double>(simNow - m_startMs);
        } else {
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_realStart).count();
        }
        return static_cast<uint64_t>(ms * m_rate * m_speed / 1000.0);
    }

    void ProducePeriod(int16_t* dst) {
        const size_t n = static_cast<size_t>(m_period) * static_cast<size_t>(m_channels);
        if (!m_source.empty()) {
            for (size_t i = 0; i < n; ++i) {
                dst[i] = m_source[m_sourcePos];
                if (++m_sourcePos >= m_source.size()) m_sourcePos = 0;
            }
            return;
        }
        // A tone sampled by a clock running at rate x speed: its frequency in
        // samples is lower when the clock is fast.
        const double step = 2.0 * M_PI * m_config.toneHz / (m_rate * m_speed);
        const double amp = std::clamp(m_config.toneLevel, 0.0, 1.0) * 32767.0;
        for (int i = 0; i < m_period; ++i) {
            const auto v = static_cast<int16_t>(std::lround(amp * std::sin(m_phase)));
            m_phase += step;
            if (m_phase > 2.0 * M_PI) m_phase -= 2.0 * M_PI;
            for (int c = 0; c < m_channels; ++c) dst[i * m_channels + c] = v;
        }
    }

    void ProcessPeriod() {
        const size_t samples = static_cast<size_t>(m_period) * static_cast<size_t>(m_channels);
        if (m_output) {
            const int got = PullOutput(m_buffer.data(), m_period);
            m_dev.framesDone.fetch_add(static_cast<uint64_t>(m_period), std::memory_order_relaxed);
            m_dev.framesLost.fetch_add(static_cast<uint64_t>(m_period - got), std::memory_order_relaxed);
            if (m_dev.sink) {
                const size_t w = m_dev.sinkWritten.load(std::memory_order_relaxed);
                const size_t n = std::min(samples, m_dev.sinkCapacity - std::min(w, m_dev.sinkCapacity));
                std::memcpy(m_dev.sink.get() + w, m_buffer.data(), n * sizeof(int16_t));
                m_dev.sinkWritten.store(w + n, std::memory_order_release);  // samples before count
            }
        } else {
            ProducePeriod(m_buffer.data());
            if (!Started()) return;
            const int stored = PushInput(m_buffer.data(), m_period);
            m_dev.framesDone.fetch_add(static_cast<uint64_t>(m_period), std::memory_order_relaxed);
            m_dev.framesLost.fetch_add(static_cast<uint64_t>(m_period - stored), std::memory_order_relaxed);
        }
    }

    void Run() override {
        for (;;) {
            const uint32_t seen = EventCount();
            const uint64_t simNow = g_simNowMs.load(std::memory_order_acquire);
            ServiceCommands();
            if (StopRequested()) break;
            const uint64_t target = TargetFrames(simNow);
            while (m_frames + static_cast<uint64_t>(m_period) <= target) {
                ProcessPeriod();
                m_frames += static_cast<uint64_t>(m_period);
                ServiceCommands();
            }
            if (m_config.simulatedClock) {
                m_simDone.store(simNow, std::memory_order_release);
                m_simDone.notify_all();
                WaitEvent(seen);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        // Nobody waits for a stopped stream.
        m_simDone.store(~uint64_t{0}, std::memory_order_release);
        m_simDone.notify_all();
    }

    void Poke() { Wake(); }

    WaveDeviceEntry& m_dev;
    VirtualWaveConfig m_config;
    double m_speed;
    int m_period = 0;
    std::vector<int16_t> m_buffer;
    std::vector<int16_t> m_source;
    size_t m_sourcePos = 0;
    double m_phase = 0.0;
    uint64_t m_frames = 0;
    uint64_t m_startMs = 0;
    std::chrono::steady_clock::time_point m_realStart;
    std::atomic<uint64_t> m_simDone{0};
};

}  // namespace

MMRESULT OpenVirtualStream(WaveDeviceEntry& entry, const WAVEFORMATEX& format, WaveCallback callback,
                           DWORD_PTR instance, CWaveStream** out) {
    auto* s = new (std::nothrow) CVirtualStream(entry, format, callback, instance);
    if (s == nullptr) return MMSYSERR_NOMEM;
    if (!entry.output && !entry.config.sourceFile.empty()) {
        FILE* f = std::fopen(entry.config.sourceFile.c_str(), "rb");
        if (f == nullptr) {
            delete s;
            return MMSYSERR_NODRIVER;
        }
        int16_t block[4096];
        size_t n;
        while ((n = std::fread(block, sizeof(int16_t), 4096, f)) > 0 && s->m_source.size() < 64u * 1024 * 1024)
            s->m_source.insert(s->m_source.end(), block, block + n);
        std::fclose(f);
        s->m_source.resize(s->m_source.size() - s->m_source.size() % static_cast<size_t>(format.nChannels));
    }
    if (entry.output) {
        entry.sinkCapacity = static_cast<size_t>(entry.config.sinkSeconds) * format.nSamplesPerSec * format.nChannels;
        entry.sink.reset(entry.sinkCapacity ? new (std::nothrow) int16_t[entry.sinkCapacity] : nullptr);
        if (entry.sinkCapacity && !entry.sink) {
            delete s;
            return MMSYSERR_NOMEM;
        }
        entry.sinkWritten.store(0, std::memory_order_release);
    }
    entry.framesDone.store(0, std::memory_order_relaxed);
    entry.framesLost.store(0, std::memory_order_relaxed);
    if (entry.config.simulatedClock) {
        std::lock_guard lock(g_simMutex);
        g_simStreams.push_back(s);
    }
    *out = s;
    return MMSYSERR_NOERROR;
}

void CloseVirtualStream(WaveDeviceEntry& entry, CWaveStream* stream) {
    {
        std::lock_guard lock(g_simMutex);
        std::erase(g_simStreams, static_cast<CVirtualStream*>(stream));
    }
    stream->StopThread();
    if (entry.output && entry.sink && !entry.config.sinkFile.empty()) {
        if (FILE* f = std::fopen(entry.config.sinkFile.c_str(), "wb")) {
            const size_t n = std::min(entry.sinkWritten.load(std::memory_order_acquire), entry.sinkCapacity);
            std::fwrite(entry.sink.get(), sizeof(int16_t), n, f);
            std::fclose(f);
        }
    }
}

void VirtualWaveAdvanceMs(uint32_t ms) {
    std::lock_guard lock(g_simMutex);
    const uint64_t now = g_simNowMs.fetch_add(ms, std::memory_order_acq_rel) + ms;
    for (CVirtualStream* s : g_simStreams) s->Poke();
    for (CVirtualStream* s : g_simStreams) {
        uint64_t done = s->m_simDone.load(std::memory_order_acquire);
        while (done < now) {
            s->m_simDone.wait(done, std::memory_order_acquire);
            done = s->m_simDone.load(std::memory_order_acquire);
        }
    }
    SimulatedDevicesAdvanced(now);
}

uint64_t VirtualWaveNowMs() { return g_simNowMs.load(std::memory_order_acquire); }

int VirtualWaveParse(const char* text, VirtualWaveConfig* config) {
    if (text == nullptr || config == nullptr) return 0;
    VirtualWaveConfig c;
    const bool read = ReadVirtualDeviceText(text, &c.name, [&c](std::string_view key, std::string_view value) {
        const VirtualSettingUse use = TakeCommonVirtualSetting(c, key, value);
        if (use != VirtualSettingUse::NotCommon) return use == VirtualSettingUse::Taken;
        double d = 0;
        if (key == "period" && ParseVirtualNumber(value, &d)) {
            c.periodMs = static_cast<int>(d);
        } else if (key == "source") {
            c.sourceFile = std::string(value);
        } else if (key == "sink") {
            c.sinkFile = std::string(value);
        } else {
            return false;
        }
        return true;
    });
    if (!read || c.name.empty()) return 0;
    *config = c;
    return 1;
}
