#pragma once
// A coded file read or written in large pieces as the coding goes.
#include <cstdint>
#include <cstdio>
#include <string>

class CByteFile {
public:
    CByteFile() = default;
    ~CByteFile();
    CByteFile(const CByteFile&) = delete;
    CByteFile& operator=(const CByteFile&) = delete;

    // False with a reason in *error.
    bool Open(const std::string& path, std::string* error);
    bool Create(const std::string& path, std::string* error);
    // Up to room bytes; 0 at the end (Failed() tells a read error).
    size_t Read(uint8_t* bytes, size_t room);
    bool Failed() const { return m_failed; }
    // False once a write has failed.
    bool Write(const uint8_t* bytes, size_t count);
    // False with a reason when a write or the close failed.
    bool Close(std::string* error);

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
};
