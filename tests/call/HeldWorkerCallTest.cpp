// A call on the real audio engine while one station's worker is held back,
// as a loaded machine may keep it from running for a long stretch: the
// devices' clock waits for it, and neither side hears a gap.
#include <gtest/gtest.h>

#include <atomic>

#include "EngineStations.h"

namespace {

constexpr int kDeviceRate = 48000;

// While requested, the worker that drives this engine stops in its playback
// pump and says so; it goes on once the request is withdrawn.
struct CWorkerHold {
    std::atomic<bool> requested{false};
    std::atomic<bool> held{false};

    void Release() {
        requested.store(false, std::memory_order_release);
        requested.notify_all();
    }
};

CWorkerHold g_hold;

class CHeldAudioEngine : public CAudioEngine {
public:
    explicit CHeldAudioEngine(std::string settingsPath) : CAudioEngine(std::move(settingsPath)) {}
    void ProcessPlayback() {
        if (g_hold.requested.load(std::memory_order_acquire)) {
            g_hold.held.store(true, std::memory_order_release);
            while (g_hold.requested.load(std::memory_order_acquire)) g_hold.requested.wait(true);
            g_hold.held.store(false, std::memory_order_release);
        }
        CAudioEngine::ProcessPlayback();
    }
};

struct HeldWorkerCallTest : CTwoStudiosTest<> {
    void SetUp() override { MakeStudios("Studio A Loop", 1000.0, 0.5, "Studio B Loop", 440.0, 0.25); }
    void TearDown() override {
        g_hold.Release();
        CTwoStudiosTest<>::TearDown();
    }

    // No gap in what `heard` played (stereo) for the last second.
    static void ExpectNoGapInLastSecond(const char* who, const CVirtualStudio& heard, double level) {
        const std::vector<int16_t> played = PlayedBy(heard, 2);
        const size_t frames = played.size() / 2;
        ASSERT_GT(frames, size_t{kDeviceRate}) << who;
        for (int ch = 0; ch < 2; ++ch) {
            const size_t since = EndOfLastGap(played, 2, ch, 0.7 * level * 32767.0);
            EXPECT_LE(since, frames - kDeviceRate)
                << who << ": gap " << (frames - since) * 1000 / kDeviceRate << " ms before the end, channel " << ch;
        }
    }
};

TEST_F(HeldWorkerCallTest, DevicesWaitForAHeldWorkerAndNoSideHearsAGap) {
    PhonebookEntry e = TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_STEREO);
    e.format.bitRate = DerivedBitRate(e.format);
    ASSERT_NO_FATAL_FAILURE(StartCall<CHeldAudioEngine>(e));
    ASSERT_TRUE(m_clock->WaitDeviceMs(1500));

    // The caller's worker is held until the clock has looked for its next
    // pass 1000 times while the devices stood still, or until the devices ran
    // 60 ms without it (more than the caller keeps queued at its device).
    g_hold.requested.store(true, std::memory_order_release);
    const uint32_t start = timeGetTime();
    while (!g_hold.held.load(std::memory_order_acquire) && timeGetTime() - start < 20000) Sleep(1);
    ASSERT_TRUE(g_hold.held.load(std::memory_order_acquire));
    const uint64_t heldAt = VirtualWaveNowMs();
    uint64_t deviceMs = heldAt;
    uint64_t looks = m_clock->Looks();
    while (m_clock->Looks() - looks < 1000 && deviceMs - heldAt < 60) {
        Sleep(1);
        if (VirtualWaveNowMs() != deviceMs) {
            deviceMs = VirtualWaveNowMs();
            looks = m_clock->Looks();
        }
    }
    g_hold.Release();
    // The step whose passes were done when the held pass began may still go by.
    EXPECT_LE(deviceMs - heldAt, CLockStepClock::kStepMs) << "ms the devices ran while the caller's worker was held";

    ASSERT_TRUE(m_clock->WaitDeviceMs(600));
    ExpectNoGapInLastSecond("caller", m_studioA, 0.25);
    ExpectNoGapInLastSecond("answerer", m_studioB, 0.5);
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16, 20000));
    ASSERT_TRUE(m_b->WaitState(16, 20000));
}

}  // namespace
