// Any file content: every lookup stays in bounds, and writing one key leaves
// every other readable key with the value it had.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Profile.h"

namespace {

std::vector<std::string> List(const char* section, const char* file) {
    std::vector<char> buffer(1 << 16);
    const DWORD n = GetPrivateProfileStringA(section, nullptr, "", buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file);
    std::vector<std::string> names;
    for (DWORD i = 0; i < n;) {
        names.emplace_back(buffer.data() + i);
        i += static_cast<DWORD>(names.back().size()) + 1;
    }
    return names;
}

std::string Value(const std::string& section, const std::string& key, const char* file) {
    std::vector<char> buffer(1 << 16);
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01missing", buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file);
    return std::string(buffer.data(), n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 8192 || (size && std::memchr(data, 0, size))) return 0;  // names are C strings
    static const std::string file = "/tmp/velmora-profile-fuzz-" + std::to_string(::getpid()) + ".ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<std::pair<std::string, std::string>> keys;
    std::vector<std::string> values;
    for (const std::string& section : List(nullptr, file.c_str())) {
        for (const std::string& key : List(section.c_str(), file.c_str())) {
            keys.emplace_back(section, key);
            values.push_back(Value(section, key, file.c_str()));
        }
    }
    char small[3];
    GetPrivateProfileStringA("Main", "Page", "default", small, sizeof small, file.c_str());
    GetPrivateProfileIntA("Main", "Page", 7, file.c_str());

    if (!WritePrivateProfileStringA("Fuzz", "Written", "  kept  ", file.c_str())) __builtin_trap();
    if (Value("Fuzz", "Written", file.c_str()) != "kept") __builtin_trap();
    for (size_t i = 0; i < keys.size(); ++i) {
        const auto& [section, key] = keys[i];
        std::string lower = section + "\n" + key;
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (lower == "fuzz\nwritten") continue;
        if (Value(section, key, file.c_str()) != values[i]) __builtin_trap();
    }
    return 0;
}
