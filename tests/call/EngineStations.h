#pragma once
// Stations on the real audio engine: each station's CAudioEngine plays and
// records through a clocked virtual WAVE device of its own. The devices run
// on the simulated clock, which a driver thread moves only once both call
// engines have moved the audio of the step before, so a loaded machine slows
// the call down but never starves a device.
#include <algorithm>
#include <atomic>
#include <cstdlib>
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
// the real engine (or on a class that adds to it).
template <class Engine = CAudioEngine>
int StartOnRealEngine(CStation& s, const CVirtualStudio& studio) {
    s.settings.WriteInt("Audio", "Interface", 1);
    s.settings.WriteInt("Rec", "Card", studio.card);
    s.settings.WriteInt("Play", "Card", studio.card);
    return s.Start(CAudioEngineBinding<Engine>::Factory(s.settingsPath));
}

// Moves the virtual devices' clock in steps. Audio a device hands over in a
// step reaches the far station's device in three passes: the station that
// captured it sends it, the far station takes it into its playback FIFO, and
// that station's next pass queues it to the device. So after every step the
// clock waits, with no bound while it runs, until each engine has done a
// pass begun after the devices served the step, then until each has done two
// more passes begun after all of those: device time never runs ahead of the
// audio, however long a loaded machine keeps a worker from running.
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
    // How often the clock has looked for an engine's next pass and not found it.
    uint64_t Looks() const { return m_looks.load(std::memory_order_relaxed); }

private:
    std::vector<uint32_t> PassCounts() const {
        std::vector<uint32_t> counts;
        for (CStation* s : m_stations) counts.push_back(s->engine ? s->engine->GetPassCount() : 0);
        return counts;
    }
    // A pass is done once the next one has begun: waits until every engine
    // has begun `passes` + 1 passes since the counts were taken.
    void WaitPasses(const std::vector<uint32_t>& since, uint32_t passes) {
        for (size_t i = 0; i < m_stations.size(); ++i) {
            const CCallEngine* e = m_stations[i]->engine.get();
            while (e && m_run.load(std::memory_order_relaxed) && e->GetPassCount() - since[i] <= passes) {
                m_looks.fetch_add(1, std::memory_order_relaxed);
                Sleep(1);
            }
        }
    }
    void Run() {
        while (m_run.load(std::memory_order_relaxed)) {
            if (m_beforeStep) m_beforeStep();
            VirtualWaveAdvanceMs(kStepMs);  // returns once the device threads served the step
            WaitPasses(PassCounts(), 1);
            WaitPasses(PassCounts(), 2);
        }
    }

    std::vector<CStation*> m_stations;
    std::function<void()> m_beforeStep;
    std::atomic<bool> m_run{true};
    std::atomic<uint64_t> m_looks{0};
    std::thread m_thread;
};

// What a virtual device played, interleaved, from frame `from` on.
inline std::vector<int16_t> PlayedBy(const CVirtualStudio& studio, int channels, size_t from = 0) {
    std::vector<int16_t> out(static_cast<size_t>(20 * 48000 * channels));
    const size_t n = VirtualWaveReadSink(studio.name.c_str(), from * static_cast<size_t>(channels), out.data(), out.size());
    out.resize(n - n % static_cast<size_t>(channels));
    return out;
}

// Where the last gap in channel ch ends, in frames: a gap is 2 ms in which
// no sample reaches above `floor`. 0 when there is none.
inline size_t EndOfLastGap(const std::vector<int16_t>& played, int channels, int ch, double floor) {
    const size_t frames = played.size() / static_cast<size_t>(channels);
    size_t end = 0;
    for (size_t w = 0; w + 96 <= frames; w += 96) {
        int peak = 0;
        for (size_t i = w; i < w + 96; ++i) peak = std::max(peak, std::abs(int(played[i * channels + ch])));
        if (peak <= floor) end = w + 96;
    }
    return end;
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
    // Starts both stations (A on EngineA) and the clock and has A call B;
    // returns once each decodes what the other sends.
    template <class EngineA = CAudioEngine>
    void StartCall(const PhonebookEntry& e) {
        ASSERT_TRUE(StartOnRealEngine<EngineA>(*m_a, m_studioA));
        ASSERT_TRUE(StartOnRealEngine(*m_b, m_studioB));
        m_clock = std::make_unique<CLockStepClock>(std::vector<CStation*>{m_a.get(), m_b.get()});
        ASSERT_TRUE(m_a->WaitState(16));
        ASSERT_TRUE(m_b->WaitState(16));
        ASSERT_TRUE(m_a->engine->Connect(e));
        ASSERT_TRUE(m_a->WaitState(50, 20000)) << m_a->Dump();
        ASSERT_TRUE(m_b->WaitState(50, 20000)) << m_b->Dump();
        ASSERT_TRUE(m_b->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 20000)) << m_b->Dump();
        ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 20000)) << m_a->Dump();
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
