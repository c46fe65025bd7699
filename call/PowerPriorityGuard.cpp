#include "call/PowerPriorityGuard.h"

#include "common/Codes.h"
#include "platform/ProcessInfo.h"
#include "platform/ThreadPriority.h"

void CPowerPriorityGuard::Save() { SaveSwitches(); }

void CPowerPriorityGuard::SaveSwitches() {
    SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &m_powerOff, 0);
    SystemParametersInfoA(SPI_GETLOWPOWERACTIVE, 0, &m_lowPower, 0);
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &m_screenSaver, 0);
}

void CPowerPriorityGuard::RestoreSwitches() const {
    SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, static_cast<UINT>(m_powerOff), nullptr, SPIF_SENDWININICHANGE);
    SystemParametersInfoA(SPI_SETLOWPOWERACTIVE, static_cast<UINT>(m_lowPower), nullptr, SPIF_SENDWININICHANGE);
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, static_cast<UINT>(m_screenSaver), nullptr, SPIF_SENDWININICHANGE);
}

void CPowerPriorityGuard::Apply(int callState) {
    switch (callState) {
    case CALL_NONE:
    case CALL_IDLE:
    case CALL_FAILED:
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        RestoreSwitches();
        break;
    case CALL_CLIP_PLAYING:
    case CALL_CLIP_PAUSED:
    case CALL_CHECKING:
    case CALL_CONNECTED:
    case CALL_CONNECTED_CLIP_PLAYING:
    case CALL_CONNECTED_CLIP_PAUSED:
        // Where the system refuses real-time scheduling these quietly stay normal.
        SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        break;
    case CALL_LINK_UP:
        SaveSwitches();
        SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 0, nullptr, SPIF_SENDWININICHANGE);
        SystemParametersInfoA(SPI_SETLOWPOWERACTIVE, 0, nullptr, SPIF_SENDWININICHANGE);
        SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDWININICHANGE);
        break;
    default: break;
    }
}
