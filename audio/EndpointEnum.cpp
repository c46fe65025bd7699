#include "audio/EndpointEnum.h"

CEndpointEnum::~CEndpointEnum() {
    if (m_handle) EnumRelease(m_handle);
}

int CEndpointEnum::GetCount() const { return m_handle ? EnumGetNumEndPoints(m_handle) : 0; }

int CEndpointEnum::GetName(int index, char* buffer, int length) const {
    return m_handle ? EnumGetEndPointName(m_handle, index, buffer, length) : 0;
}

int CEndpointEnum::GetDefaultIndex() const { return m_handle ? EnumGetDefaultDeviceIndex(m_handle) : -1; }
