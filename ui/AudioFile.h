#pragma once
// A library import's source file: the WAV reader is tried first, the MPEG
// reader second, and the one that opened the file serves every call.
#include "ui/MpegFileReader.h"
#include "ui/WavFileReader.h"

class CAudioFile {
public:
    // 1 when one of the readers opened the file; 0 otherwise, with
    // GetErrorText saying why when a reader recognised the file but refused it.
    int Open(const char* name, int mode);
    void Close();
    int Read(void* buffer, int bytes) { return m_active ? m_active->Read(buffer, bytes) : 0; }
    int IsAtEnd() const { return m_active ? m_active->IsAtEnd() : 1; }
    int GetLength() const { return m_active ? m_active->GetLength() : 0; }
    void GetFormat(AudioFormat* out) const {
        if (m_active) m_active->GetFormat(out);
    }
    const std::string& GetErrorText() const { return m_errorText; }

private:
    CAudioFileReader* m_active = nullptr;
    CMpegFileReader m_mpeg;
    CWavFileReader m_wav;
    std::string m_errorText;
};
