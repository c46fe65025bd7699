#pragma once
// The multimedia millisecond clock: a 32-bit count that wraps after 49.7 days.
// Tests install a CSimClock, which moves only when told, so that time-outs and
// the wrap at 2^32 can be checked without sleeping.
#include <atomic>
#include <cstdint>

// Milliseconds, wrapping; any thread.
uint32_t timeGetTime();

// Sleeps the calling thread; with a simulated clock installed it advances that
// clock instead and returns at once.
void Sleep(uint32_t ms);

class CSimClock {
public:
    explicit CSimClock(uint32_t startMs = 0);  // installs itself as the clock
    ~CSimClock();                              // restores the real clock
    CSimClock(const CSimClock&) = delete;
    CSimClock& operator=(const CSimClock&) = delete;

    uint32_t NowMs() const { return m_now.load(std::memory_order_acquire); }
    void SetMs(uint32_t ms) { m_now.store(ms, std::memory_order_release); }
    void AdvanceMs(uint32_t ms) { m_now.fetch_add(ms, std::memory_order_acq_rel); }

private:
    std::atomic<uint32_t> m_now;
};
