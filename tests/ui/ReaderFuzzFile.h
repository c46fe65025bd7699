#pragma once
// The readers take file names: a fuzz input goes to a scratch file of this
// process first.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline const std::string& WriteFuzzFile(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/velmora-reader-fuzz-" + std::to_string(::getpid());
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
