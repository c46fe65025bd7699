#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name) return nullptr;
    // A data pointer to a function pointer: POSIX guarantees the round trip.
    void* symbol = dlsym(module, name);
    FARPROC f = nullptr;
    static_assert(sizeof f == sizeof symbol);
    __builtin_memcpy(&f, &symbol, sizeof f);
    return f;
}

BOOL FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    return dlclose(module) == 0 ? TRUE : FALSE;
}
