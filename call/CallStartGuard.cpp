#include "call/CallStartGuard.h"

bool CCallStartGuard::TakeExpiry() {
    if (!m_watch.IsRunning() || !m_watch.IsExpired()) return false;
    m_watch.Stop();
    return true;
}
