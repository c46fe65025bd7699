#include "tools/velmora-codec/WavWriter.h"

#include <bit>
#include <cstring>

#include "common/ByteOrder.h"

namespace {

constexpr size_t kHeaderBytes = 44;
constexpr size_t kBlockBytes = 1 << 16;  // small enough to stay in cache, few page faults
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kHeaderBytes - 8);
constexpr uint16_t kFormatPcm = 1;

void PutHeader(uint8_t* p, int sampleRate, int channels, uint32_t dataBytes) {
    std::memcpy(p, "RIFF", 4);
    PutLe32(p + 4, static_cast<uint32_t>(kHeaderBytes - 8) + dataBytes);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    PutLe32(p + 16, 16);
    PutLe16(p + 20, kFormatPcm);
    PutLe16(p + 22, static_cast<uint16_t>(channels));
    PutLe32(p + 24, static_cast<uint32_t>(sampleRate));
    PutLe32(p + 28, static_cast<uint32_t>(sampleRate * channels * 2));
    PutLe16(p + 32, static_cast<uint16_t>(channels * 2));
    PutLe16(p + 34, 16);
    std::memcpy(p + 36, "data", 4);
    PutLe32(p + 40, dataBytes);
}

}  // namespace

CWavWriter::~CWavWriter() {
    if (m_file) std::fclose(m_file);
}

bool CWavWriter::Open(const std::string& path, int sampleRate, int channels, std::string* error) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        *error = "cannot create " + path;
        return false;
    }
    m_block.resize(kBlockBytes);
    // The sizes stay zero until Close: a reader of a file cut short takes what is there.
    PutHeader(m_block.data(), sampleRate, channels, 0);
    m_held = kHeaderBytes;
    m_dataBytes = 0;
    m_failed = false;
    m_tooLong = false;
    m_channels = channels;
    m_sampleRate = sampleRate;
    return true;
}

bool CWavWriter::Append(const int16_t* samples, size_t count) {
    if (!m_file || m_failed || m_tooLong) return false;
    if (m_dataBytes + 2 * count > kMaxDataBytes) {
        m_tooLong = true;
        return false;
    }
    m_dataBytes += 2 * count;
    while (count > 0) {
        const size_t room = (m_block.size() - m_held) / 2;
        const size_t n = count < room ? count : room;
        uint8_t* p = m_block.data() + m_held;
        if constexpr (std::endian::native == std::endian::little)
            std::memcpy(p, samples, 2 * n);
        else
            for (size_t i = 0; i < n; ++i) PutLe16(p + 2 * i, static_cast<uint16_t>(samples[i]));
        m_held += 2 * n;
        samples += n;
        count -= n;
        if (m_held + 2 > m_block.size() && !Flush()) return false;
    }
    return true;
}

bool CWavWriter::Flush() {
    if (m_held > 0 && std::fwrite(m_block.data(), 1, m_held, m_file) != m_held) m_failed = true;
    m_held = 0;
    return !m_failed;
}

bool CWavWriter::Close(std::string* error) {
    if (!m_file) {
        *error = "cannot write " + m_path;
        return false;
    }
    Flush();
    if (!m_failed && !m_tooLong) {
        uint8_t header[kHeaderBytes];
        PutHeader(header, m_sampleRate, m_channels, static_cast<uint32_t>(m_dataBytes));
        if (std::fseek(m_file, 0, SEEK_SET) != 0 || std::fwrite(header, 1, kHeaderBytes, m_file) != kHeaderBytes) {
            m_failed = true;
        }
    }
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (m_tooLong) {
        *error = m_path + ": too long for a WAVE file";
        return false;
    }
    if (m_failed || !closed) {
        *error = "cannot write " + m_path;
        return false;
    }
    return true;
}
