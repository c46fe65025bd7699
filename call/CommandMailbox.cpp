#include "call/CommandMailbox.h"

#include "common/Stopwatch.h"
#include "platform/Clock.h"

int CCommandMailbox::Post(int code, uint32_t timeoutMs, const std::atomic<int>& stopped) {
    CStopwatch watch;
    watch.Start(timeoutMs);
    for (;;) {
        int empty = 0;
        if (m_slot.compare_exchange_strong(empty, code, std::memory_order_release, std::memory_order_relaxed))
            return 1;
        if (stopped.load(std::memory_order_acquire)) return 0;
        // The worker takes a command within a pass; the clock is the engine's.
        Sleep(50);
        if (watch.IsExpired()) return 0;
    }
}
