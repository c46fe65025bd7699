#include "platform/ProcessInfo.h"

#include <unistd.h>

#include <atomic>

DWORD GetProgramPath(char* out, DWORD size) {
    if (!out || size == 0) return 0;
    const ssize_t n = readlink("/proc/self/exe", out, size);
    if (n <= 0 || static_cast<DWORD>(n) >= size) {
        out[0] = '\0';
        return 0;
    }
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

namespace {
std::atomic<int> g_screenSaver{1};
std::atomic<int> g_lowPower{1};
std::atomic<int> g_powerOff{1};
}  // namespace

BOOL SystemParametersInfoA(UINT action, UINT param, void* pvParam, UINT /*winIni*/) {
    std::atomic<int>* slot = nullptr;
    bool set = false;
    switch (action) {
    case SPI_GETSCREENSAVEACTIVE: slot = &g_screenSaver; break;
    case SPI_SETSCREENSAVEACTIVE: slot = &g_screenSaver; set = true; break;
    case SPI_GETLOWPOWERACTIVE: slot = &g_lowPower; break;
    case SPI_SETLOWPOWERACTIVE: slot = &g_lowPower; set = true; break;
    case SPI_GETPOWEROFFACTIVE: slot = &g_powerOff; break;
    case SPI_SETPOWEROFFACTIVE: slot = &g_powerOff; set = true; break;
    default: return FALSE;
    }
    if (set) {
        slot->store(param ? 1 : 0, std::memory_order_relaxed);
        return TRUE;
    }
    if (!pvParam) return FALSE;
    *static_cast<int*>(pvParam) = slot->load(std::memory_order_relaxed);
    return TRUE;
}
