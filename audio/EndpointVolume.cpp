#include "audio/EndpointVolume.h"

CEndpointVolume::~CEndpointVolume() {
    if (m_handle) VolumeRelease(m_handle);
}

void CEndpointVolume::SetMasterVolume(float value) {
    if (m_handle) VolumeSetMasterVolume(m_handle, value);
}

float CEndpointVolume::GetMasterVolume() const { return m_handle ? VolumeGetMasterVolume(m_handle) : 0.0f; }
