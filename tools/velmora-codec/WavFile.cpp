#include "tools/velmora-codec/WavFile.h"

#include <cstdio>
#include <cstring>

#include "common/ByteOrder.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path;
        return false;
    }
    bytes->clear();
    // Read straight into the vector: the whole file at once when its size is
    // known, then in 64 KiB steps for whatever else comes (a pipe, a growing file).
    size_t step = 65536;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0) step = static_cast<size_t>(size) + 1;
        std::rewind(f);
    }
    for (;;) {
        const size_t old = bytes->size();
        bytes->resize(old + step);
        const size_t n = std::fread(bytes->data() + old, 1, step, f);
        bytes->resize(old + n);
        if (n < step) break;
        step = 65536;
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) *error = "cannot read " + path;
    return !bad;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) *error = "cannot write " + path;
    return ok && closed;
}

bool ReadWav(const std::string& path, WavData* wav, std::string* error) {
    std::vector<uint8_t> b;
    if (!ReadFileBytes(path, &b, error)) return false;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        *error = path + ": not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint8_t* chunk = b.data() + pos;
        const size_t size = GetLe32(chunk + 4);
        const size_t body = pos + 8;
        const size_t avail = b.size() - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > avail) break;
            const uint8_t* p = b.data() + body;
            uint16_t tag = GetLe16(p);
            if (tag == kFormatExtensible && size >= 40) tag = GetLe16(p + 24);  // sub-format GUID
            const int bits = GetLe16(p + 14);
            wav->channels = GetLe16(p + 2);
            wav->sampleRate = static_cast<int>(GetLe32(p + 4) & 0x7FFFFFFF);
            if (tag != kFormatPcm || bits != 16 || wav->channels < 1 || wav->channels > 2 || wav->sampleRate <= 0) {
                *error = path + ": only 16-bit PCM WAVE with one or two channels is supported";
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            // Writers that stream leave the size open (0 or 0xFFFFFFFF): take what is there.
            const size_t n = (size == 0 || size > avail) ? avail : size;
            wav->samples.resize(n / 2);
            for (size_t i = 0; i < n / 2; ++i) {
                wav->samples[i] = static_cast<int16_t>(GetLe16(b.data() + body + 2 * i));
            }
            return true;
        }
        if (size > avail) break;
        pos = body + size + (size & 1);
    }
    *error = path + (haveFormat ? ": no data chunk" : ": no usable fmt chunk");
    return false;
}
