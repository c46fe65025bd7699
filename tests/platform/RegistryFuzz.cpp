// Any store file: lookups stay in bounds, and a value set afterwards reads back.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/Registry.h"
#include "platform/WinError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    static const std::string file = "/tmp/velmora-registry-fuzz-" + std::to_string(::getpid());
    ::setenv("VELMORA_REGISTRY_FILE", file.c_str(), 1);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    char name[64];
    for (DWORD i = 0; i < 8 && RegEnumKeyA(HKEY_LOCAL_MACHINE, i, name, sizeof name) != ERROR_NO_MORE_ITEMS;
         ++i) {
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Qiv\\Velmora\\Transvoria", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        BYTE buffer[16];
        DWORD bytes = sizeof buffer, type = 0;
        RegQueryValueExA(key, "Name", nullptr, &type, buffer, &bytes);
        bytes = sizeof buffer;
        RegQueryValueExA(key, "Version", nullptr, &type, buffer, &bytes);
        RegCloseKey(key);
    }
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        __builtin_trap();
    }
    const BYTE value[] = {'a', 0, '\n', '=', '%', ']'};
    if (RegSetValueExA(key, "Odd=Name]", 0, REG_BINARY, value, sizeof value) != ERROR_SUCCESS)
        __builtin_trap();
    BYTE back[sizeof value];
    DWORD bytes = sizeof back, type = 0;
    if (RegQueryValueExA(key, "odd=name]", nullptr, &type, back, &bytes) != ERROR_SUCCESS ||
        type != REG_BINARY || bytes != sizeof value || std::memcmp(back, value, sizeof value) != 0) {
        __builtin_trap();
    }
    RegCloseKey(key);
    return 0;
}
