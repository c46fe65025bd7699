#pragma once
// Stations on the real audio engine: each station's CAudioEngine plays and
// records through a clocked virtual WAVE device of its own. The devices run
// on the simulated clock, which a driver thread moves only while both call
// engines keep up (two worker passes per step), so a loaded machine slows
// the call down but never starves a device.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "CallHarness.h"
#include "audio/AudioEngine.h"
#include "call/AudioEngineBinding.h"
#include "platform/VirtualWave.h"

struct CVirtualStudio {
    std::string name;
    int card = 0;  // virtual devices are listed first, in the order added
};

// Adds a virtual device pair that plays a tone into capture and keeps what
// it plays; one per station, on the simulated clock.
inline CVirtualStudio AddVirtualStudio(const std::string& name, int card, double toneHz, double level) {
    VirtualWaveConfig c;
    c.name = name;
    c.simulatedClock = true;
    c.toneHz = toneHz;
    c.toneLevel = level;
    c.sinkSeconds = 20;
    EXPECT_EQ(VirtualWaveAdd(c), 1) << name;
    return {name, card};
}

// Points a station's audio settings at its virtual device and starts it on
// the real engine.
inline int StartOnRealEngine(CStation& s, const CVirtualStudio& studio) {
    s.settings.WriteInt("Audio", "Interface", 1);
    s.settings.WriteInt("Rec", "Card", studio.card);
    s.settings.WriteInt("Play", "Card", studio.card);
    return s.Start(CAudioEngineBinding<CAudioEngine>::Factory(s.settingsPath));
}

// Moves the virtual devices' clock in steps, each after every engine has
// begun two passes since the step before (the first of them then is done).
class CLockStepClock {
public:
    static constexpr uint32_t kStepMs = 5;

    // beforeStep runs on the clock's thread before every step: a peer that
    // must keep pace with the devices does its part there.
    explicit CLockStepClock(std::vector<CStation*> stations, std::function<void()> beforeStep = {})
        : m_stations(std::move(stations)), m_beforeStep(std::move(beforeStep)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~CLockStepClock() { Stop(); }
    void Stop() {
        m_run.store(false, std::memory_order_relaxed);
        if (m_thread.joinable()) m_thread.join();
    }
    // Real time may pass at any pace; waits until the devices' clock moved by ms.
    bool WaitDeviceMs(uint64_t ms, uint32_t realLimitMs = 120000) const {
        const uint64_t until = VirtualWaveNowMs() + ms;
        const uint32_t start = timeGetTime();
        while (VirtualWaveNowMs() < until) {
            if (timeGetTime() - start > realLimitMs) return false;
            Sleep(5);
        }
        return true;
    }

private:
    bool PassedTwiceSince(CStation& s, uint32_t t) const {
        if (!s.engine) return true;
        uint32_t starts[2] = {};
        const int n = s.engine->CopyPassStarts(starts, 2);
        return n == 2 && static_cast<int32_t>(starts[0] - t) > 0;
    }
    void Run() {
        while (m_run.load(std::memory_order_relaxed)) {
            if (m_beforeStep) m_beforeStep();
            const uint32_t t = timeGetTime();
            VirtualWaveAdvanceMs(kStepMs);
            // Idle workers pass every 24 ms; a stopped one never: bounded.
            for (CStation* s : m_stations)
                for (int i = 0; i < 500 && m_run.load(std::memory_order_relaxed) && !PassedTwiceSince(*s, t); ++i)
                    Sleep(1);
        }
    }

    std::vector<CStation*> m_stations;
    std::function<void()> m_beforeStep;
    std::atomic<bool> m_run{true};
    std::thread m_thread;
};

// What a virtual device played, interleaved, from frame `from` on.
inline std::vector<int16_t> PlayedBy(const CVirtualStudio& studio, int channels, size_t from = 0) {
    std::vector<int16_t> out(static_cast<size_t>(20 * 48000 * channels));
    const size_t n = VirtualWaveReadSink(studio.name.c_str(), from * static_cast<size_t>(channels), out.data(), out.size());
    out.resize(n - n % static_cast<size_t>(channels));
    return out;
}

// Two stations A and B, each on a virtual studio of its own (A on card 0, B
// on card 1) playing a tone of its own; the test starts them and the clock.
// Base is the GoogleTest fixture class (plain or parameterised).
template <typename Base = ::testing::Test>
struct CTwoStudiosTest : Base {
    void MakeStudios(const std::string& nameA, double hzA, double levelA, const std::string& nameB, double hzB,
                     double levelB) {
        VirtualWaveClear();
        MakeTwoStations(m_dir, m_a, m_b);
        m_studioA = AddVirtualStudio(nameA, 0, hzA, levelA);
        m_studioB = AddVirtualStudio(nameB, 1, hzB, levelB);
    }
    void TearDown() override {
        if (m_clock) m_clock->Stop();
        m_a.reset();
        m_b.reset();
        m_clock.reset();
        VirtualWaveClear();
    }

    CTempDir m_dir;
    std::unique_ptr<CStation> m_a;
    std::unique_ptr<CStation> m_b;
    CVirtualStudio m_studioA, m_studioB;
    std::unique_ptr<CLockStepClock> m_clock;
};
