#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreSetup.h"

#include <mutex>

#include "mp3enc/util/VectorOps.h"

namespace {
bool ProcessorHasSse() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("sse");
#else
    return false;
#endif
}
}  // namespace

EncError* L3CoreCheckVersion(int clientVersion, int* libraryVersion) {
    if (libraryVersion) *libraryVersion = kL3CoreVersion;
    if ((static_cast<unsigned>(clientVersion) >> 16) != 0x0207u)
        return ErrorCreate(__FILE__, __LINE__, nullptr, "mismatch between encoder interface version and client version");
    ErrorFree(L3CoreSetSSE(1));  // without SSE the plain paths stay
    return nullptr;
}

EncError* L3CoreSetSSE(int enable) {
    if (enable && !ProcessorHasSse()) return ErrorCreate(__FILE__, __LINE__, nullptr, "no Pentium III in this system");
    VecSetSse(enable);
    return nullptr;
}

void L3CoreCheckVersionOnce() {
    static std::once_flag once;
    std::call_once(once, [] { ErrorFree(L3CoreCheckVersion(kL3CoreVersion, nullptr)); });
}
