#include "ui/AudioFile.h"

int CAudioFile::Open(const char* name, int mode) {
    Close();
    m_errorText.clear();
    if (m_wav.Open(name, mode)) {
        m_active = &m_wav;
        return 1;
    }
    m_errorText = m_wav.GetErrorText();
    if (m_mpeg.Open(name, mode)) {
        m_active = &m_mpeg;
        m_errorText.clear();
        return 1;
    }
    if (m_errorText.empty()) m_errorText = m_mpeg.GetErrorText();
    return 0;
}

void CAudioFile::Close() {
    if (m_active) m_active->Close();
    m_active = nullptr;
}
