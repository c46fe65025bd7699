#include "audio/EndpointClient.h"

int CEndpointClient::Open(int blockMs, int bufferCount, int rate, int channels, int modeFlag) {
    return m_handle ? ClientOpen(m_handle, blockMs, bufferCount, rate, channels, modeFlag) : 0;
}

void CEndpointClient::Close() {
    if (m_handle) ClientClose(m_handle);
}

int CEndpointClient::Start() { return m_handle ? ClientStart(m_handle) : 0; }

void CEndpointClient::Stop() {
    if (m_handle) ClientStop(m_handle);
}

void CEndpointClient::Release() {
    if (m_handle) ClientRelease(m_handle);
    m_handle = 0;
}

int CEndpointClient::GetBytesFree() const { return m_handle ? ClientGetBytesFree(m_handle) : 0; }
int CEndpointClient::GetBytesBuffered() const { return m_handle ? ClientGetBytesBuffered(m_handle) : 0; }
int CEndpointClient::GetBytesDone() const { return m_handle ? ClientGetBytesDone(m_handle) : 0; }

std::string CEndpointClient::GetLastErrorText() const {
    char text[256] = {};
    if (!m_handle || !ClientGetLastErrorStr(m_handle, text, sizeof text)) return {};
    return text;
}
