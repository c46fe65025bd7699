#pragma once
// Owns the master volume of one endpoint (direction 1 for capture). The
// volume sliders of the user interface pass position x 0.01. Used on the
// thread that built it.
#include "platform/Auxlet.h"

class CEndpointVolume {
public:
    CEndpointVolume(int direction, int index) : m_handle(VolumeCreate(direction, index)) {}
    ~CEndpointVolume();
    CEndpointVolume(const CEndpointVolume&) = delete;
    CEndpointVolume& operator=(const CEndpointVolume&) = delete;

    bool IsValid() const { return m_handle != 0; }
    void SetMasterVolume(float value);
    float GetMasterVolume() const;  // 0 without a handle

private:
    AUXHANDLE m_handle;
};
