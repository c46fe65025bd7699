#pragma once
// Running the Debian peer programs (sox, ffmpeg) and our own tools from tests:
// a scratch folder per test, whole-file reads and writes, and shell commands.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace g7xx_test {

inline bool HavePeer(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Exit status of a shell command; its diagnostics go to the test log.
inline int RunCommand(const std::string& command) {
    const int rc = std::system(command.c_str());
    return (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
}

// Scratch folder for the peer tools' files.
using CScratchDir = CTempDir;

inline bool WriteBytes(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

// Samples are written and read as 16-bit little-endian.
inline bool WriteSamples(const std::string& path, const std::vector<int16_t>& s) {
    std::vector<uint8_t> b(2 * s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        b[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
        b[2 * i + 1] = static_cast<uint8_t>((s[i] >> 8) & 0xFF);
    }
    return WriteBytes(path, b.data(), b.size());
}

inline std::vector<int16_t> ReadSamples(const std::string& path) {
    const std::vector<uint8_t> b = ReadBytes(path);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

}  // namespace g7xx_test
