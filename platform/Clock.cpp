#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace {
std::atomic<CSimClock*> g_simClock{nullptr};

uint32_t RealMs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);  // keep the low 32 bits: wraps like the original
}
}  // namespace

uint32_t timeGetTime() {
    const CSimClock* sim = g_simClock.load(std::memory_order_acquire);
    return sim ? sim->NowMs() : RealMs();
}

void Sleep(uint32_t ms) {
    if (CSimClock* sim = g_simClock.load(std::memory_order_acquire)) {
        sim->AdvanceMs(ms);
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CSimClock::CSimClock(uint32_t startMs) : m_now(startMs) {
    g_simClock.store(this, std::memory_order_release);
}

CSimClock::~CSimClock() {
    CSimClock* self = this;
    g_simClock.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}
