#pragma once
// Owns one endpoint enumeration (direction 0 playback, 1 capture). Used on
// the thread that built it.
#include "platform/Auxlet.h"

class CEndpointEnum {
public:
    explicit CEndpointEnum(int direction) : m_handle(EnumCreate(direction)) {}
    ~CEndpointEnum();
    CEndpointEnum(const CEndpointEnum&) = delete;
    CEndpointEnum& operator=(const CEndpointEnum&) = delete;

    int GetCount() const;
    int GetName(int index, char* buffer, int length) const;  // non-zero when written
    int GetDefaultIndex() const;                               // -1 without a handle

private:
    AUXHANDLE m_handle;
};
