#pragma once
// A source file of the library import read as 16-bit PCM: its format, its
// length and the PCM stream. Readers open only for reading. Used on the GUI
// thread by the library box.
#include <cstdint>
#include <string>

#include "common/FileHandle.h"
#include "common/Records.h"

class CAudioFileReader {
public:
    virtual ~CAudioFileReader() = default;
    // 1 when the file is of this reader's kind and readable; 0 otherwise,
    // with GetErrorText saying why when the kind was recognised.
    virtual int Open(const char* name, int mode) = 0;
    virtual void Close() = 0;
    // Bytes of 16-bit PCM written; 0 at the end (IsAtEnd then says so).
    virtual int Read(void* buffer, int bytes) = 0;
    int IsAtEnd() const { return m_atEnd; }
    // Bytes of 16-bit PCM the whole file gives.
    virtual int GetLength() const = 0;
    void GetFormat(AudioFormat* out) const {
        if (out) *out = m_format;
    }
    const std::string& GetErrorText() const { return m_errorText; }
    int GetDataPosition() const { return m_dataPosition; }

protected:
    int m_atEnd = 1;
    int m_dataPosition = 0;
    AudioFormat m_format;
    CFileHandle m_file;
    std::string m_errorText;
};
