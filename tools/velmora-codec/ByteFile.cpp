#include "tools/velmora-codec/ByteFile.h"

namespace {
constexpr size_t kBufferBytes = 1 << 16;
}  // namespace

CByteFile::~CByteFile() {
    if (m_file) std::fclose(m_file);
}

bool CByteFile::Open(const std::string& path, std::string* error) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) *error = "cannot open " + path;
    return m_file != nullptr;
}

bool CByteFile::Create(const std::string& path, std::string* error) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        *error = "cannot create " + path;
        return false;
    }
    std::setvbuf(m_file, nullptr, _IOFBF, kBufferBytes);
    return true;
}

size_t CByteFile::Read(uint8_t* bytes, size_t room) {
    if (!m_file || m_failed) return 0;
    const size_t n = std::fread(bytes, 1, room, m_file);
    if (n < room && std::ferror(m_file)) m_failed = true;
    return n;
}

bool CByteFile::Write(const uint8_t* bytes, size_t count) {
    if (!m_file || m_failed) return false;
    if (std::fwrite(bytes, 1, count, m_file) != count) m_failed = true;
    return !m_failed;
}

bool CByteFile::Close(std::string* error) {
    const bool closed = m_file && std::fclose(m_file) == 0;
    m_file = nullptr;
    if (m_failed || !closed) {
        *error = "cannot write " + m_path;
        return false;
    }
    return true;
}
