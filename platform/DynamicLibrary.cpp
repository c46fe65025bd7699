#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {
// The running program's folder, with its trailing slash; empty when unknown.
std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    std::string folder(path, static_cast<size_t>(n));
    return folder.substr(0, folder.rfind('/') + 1);
}
}  // namespace

// A bare name is found through the run path; failing that (a sanitizer's
// own dlopen does not see the program's run path) in the program's folder
// and its sibling lib/, as Windows looks beside the program first.
HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    HMODULE module = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (module || std::strchr(name, '/')) return module;
    const std::string folder = ProgramFolder();
    if (folder.empty()) return nullptr;
    module = dlopen((folder + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) module = dlopen((folder + "../lib/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    return module;
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
