#include "common/Stopwatch.h"

#include "platform/Clock.h"

void CStopwatch::Start(uint32_t periodMs) {
    m_start = timeGetTime();
    m_deadline = m_start + periodMs;  // unsigned: wraps like the clock
    m_wrapped = m_deadline < m_start ? 1 : 0;
    m_elapsed = 0;
    m_running = 1;
}

int CStopwatch::IsExpired() {
    if (!m_running) return 0;
    const uint32_t now = timeGetTime();
    // A deadline past the wrap is reached only once the clock itself has wrapped.
    // A deadline before the wrap is also passed when the clock has wrapped since
    // the start: a check that comes that late must not wait another 49.7 days.
    const bool expired =
        m_wrapped ? (now < m_start && now >= m_deadline) : (now >= m_deadline || now < m_start);
    if (!expired) return 0;
    m_elapsed = now - m_start;
    return 1;
}
