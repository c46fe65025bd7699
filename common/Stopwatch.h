#pragma once
// A time-out on the wrapping millisecond clock. Belongs to one owner and is
// used on the owner's thread; no locking.
#include <cstdint>

class CStopwatch {
public:
    CStopwatch() = default;
    ~CStopwatch() { Stop(); }

    void Start(uint32_t periodMs);
    int IsExpired();  // 1 once the period has passed; stays 1 until restarted or stopped
    void Stop() { m_running = 0; }
    int IsRunning() const { return m_running ? 1 : 0; }
    uint32_t GetElapsed() const { return m_elapsed; }  // stored by the IsExpired that said 1

private:
    uint32_t m_running = 0;
    uint32_t m_wrapped = 0;
    uint32_t m_start = 0;
    uint32_t m_deadline = 0;
    uint32_t m_elapsed = 0;
};
