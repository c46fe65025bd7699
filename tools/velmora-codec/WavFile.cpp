#include "tools/velmora-codec/WavFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "common/ByteOrder.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint64_t kToTheEnd = std::numeric_limits<uint64_t>::max();

bool ReadExactly(std::FILE* f, void* dst, size_t bytes) { return std::fread(dst, 1, bytes, f) == bytes; }

// Bytes from the position to the end of the file; kToTheEnd when the file
// cannot tell (a pipe).
uint64_t BytesLeft(std::FILE* f) {
    const long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return kToTheEnd;
    const long end = std::ftell(f);
    if (end < here || std::fseek(f, here, SEEK_SET) != 0) return kToTheEnd;
    return static_cast<uint64_t>(end - here);
}

bool SkipBytes(std::FILE* f, uint64_t bytes) {
    if (bytes <= static_cast<uint64_t>(std::numeric_limits<long>::max()) && std::fseek(f, static_cast<long>(bytes), SEEK_CUR) == 0)
        return true;
    uint8_t scratch[4096];
    while (bytes > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, sizeof scratch));
        if (!ReadExactly(f, scratch, n)) return false;
        bytes -= n;
    }
    return true;
}

}  // namespace

CWavReader::~CWavReader() {
    if (m_file) std::fclose(m_file);
}

bool CWavReader::Open(const std::string& path, std::string* error) {
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) {
        *error = "cannot open " + path;
        return false;
    }
    uint8_t riff[12];
    if (!ReadExactly(m_file, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        *error = path + ": not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    uint8_t chunk[8];
    while (ReadExactly(m_file, chunk, sizeof chunk)) {
        const uint64_t size = GetLe32(chunk + 4);
        const uint64_t avail = BytesLeft(m_file);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > avail) break;
            uint8_t p[40] = {};
            const size_t head = static_cast<size_t>(std::min<uint64_t>(size, sizeof p));
            if (!ReadExactly(m_file, p, head) || !SkipBytes(m_file, size - head)) break;
            uint16_t tag = GetLe16(p);
            if (tag == kFormatExtensible && size >= 40) tag = GetLe16(p + 24);  // sub-format GUID
            const int bits = GetLe16(p + 14);
            m_channels = GetLe16(p + 2);
            m_sampleRate = static_cast<int>(GetLe32(p + 4) & 0x7FFFFFFF);
            if (tag != kFormatPcm || bits != 16 || m_channels < 1 || m_channels > 2 || m_sampleRate <= 0) {
                *error = path + ": only 16-bit PCM WAVE with one or two channels is supported";
                return false;
            }
            haveFormat = true;
            if ((size & 1) && !SkipBytes(m_file, 1)) break;
            continue;
        }
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            // Writers that stream leave the size open (0 or 0xFFFFFFFF): take what is there.
            m_left = (size == 0 || size > avail) ? kToTheEnd : size;
            return true;
        }
        if (size > avail || !SkipBytes(m_file, size + (size & 1))) break;
    }
    *error = path + (haveFormat ? ": no data chunk" : ": no usable fmt chunk");
    return false;
}

size_t CWavReader::Read(int16_t* samples, size_t room) {
    if (!m_file || m_left < 2) return 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(room * 2, m_left & ~uint64_t{1}));
    const size_t got = std::fread(samples, 1, want, m_file);
    if (got < want) {
        m_failed = std::ferror(m_file) != 0;
        m_left = 0;
    } else if (m_left != kToTheEnd) {
        m_left -= got;
    }
    const size_t count = got / 2;  // an odd last byte makes no sample
    if constexpr (std::endian::native != std::endian::little) {
        auto* bytes = reinterpret_cast<uint8_t*>(samples);
        for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(GetLe16(bytes + 2 * i));
    }
    return count;
}

bool ReadWav(const std::string& path, WavData* wav, std::string* error) {
    CWavReader reader;
    if (!reader.Open(path, error)) return false;
    wav->sampleRate = reader.SampleRate();
    wav->channels = reader.Channels();
    wav->samples.clear();
    constexpr size_t kStep = 1 << 16;
    for (;;) {
        const size_t old = wav->samples.size();
        wav->samples.resize(old + kStep);
        const size_t n = reader.Read(wav->samples.data() + old, kStep);
        wav->samples.resize(old + n);
        if (n == 0) break;
    }
    if (reader.Failed()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
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
