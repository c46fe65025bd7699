#pragma once
// The platform CAPI library, bound by name on first use and kept for the
// life of the process. Every call of a missing library or entry gives
// CAPI_NOTINSTALLED (or CAPI_REGNOTINSTALLED for registration).
#include <cstdint>

#include "platform/capi/Capi2032Api.h"

class CCapiBinding {
public:
    static CCapiBinding& Get();

    uint32_t Register(uint32_t bufferSize, uint32_t connections, uint32_t blocks, uint32_t blockLength,
                      uint32_t* applId);
    uint32_t Release(uint32_t applId);
    uint32_t PutMessage(uint32_t applId, const void* message);
    uint32_t GetMessage(uint32_t applId, void** message);
    uint32_t GetManufacturer(char* buffer);
    uint32_t GetVersion(uint32_t* major, uint32_t* minor, uint32_t* manuMajor, uint32_t* manuMinor);
    uint32_t GetSerialNumber(char* buffer);
    uint32_t GetProfile(void* buffer, uint32_t controller);
    uint32_t Installed();

private:
    CCapiBinding();

    CapiRegisterFn m_register = nullptr;
    CapiReleaseFn m_release = nullptr;
    CapiPutMessageFn m_putMessage = nullptr;
    CapiGetMessageFn m_getMessage = nullptr;
    CapiWaitForSignalFn m_waitForSignal = nullptr;  // bound, not used
    CapiGetManufacturerFn m_getManufacturer = nullptr;
    CapiGetVersionFn m_getVersion = nullptr;
    CapiGetSerialNumberFn m_getSerialNumber = nullptr;
    CapiGetProfileFn m_getProfile = nullptr;
    CapiInstalledFn m_installed = nullptr;
};
