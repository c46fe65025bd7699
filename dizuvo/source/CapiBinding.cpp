#include "dizuvo/source/CapiBinding.h"

#include "platform/DynamicLibrary.h"
#include "platform/capi/CapiMessage.h"

namespace {
template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(GetProcAddress(module, name));
}
}  // namespace

CCapiBinding& CCapiBinding::Get() {
    static CCapiBinding binding;
    return binding;
}

CCapiBinding::CCapiBinding() {
    HMODULE module = LoadLibraryA(kCapiLibraryName);
    if (!module) return;
    Bind(module, "CAPI_REGISTER", m_register);
    Bind(module, "CAPI_RELEASE", m_release);
    Bind(module, "CAPI_PUT_MESSAGE", m_putMessage);
    Bind(module, "CAPI_GET_MESSAGE", m_getMessage);
    Bind(module, "CAPI_WAIT_FOR_SIGNAL", m_waitForSignal);
    Bind(module, "CAPI_GET_MANUFACTURER", m_getManufacturer);
    Bind(module, "CAPI_GET_VERSION", m_getVersion);
    Bind(module, "CAPI_GET_SERIAL_NUMBER", m_getSerialNumber);
    Bind(module, "CAPI_GET_PROFILE", m_getProfile);
    Bind(module, "CAPI_INSTALLED", m_installed);
}

uint32_t CCapiBinding::Register(uint32_t bufferSize, uint32_t connections, uint32_t blocks, uint32_t blockLength,
                                uint32_t* applId) {
    if (!m_register) return CAPI_REGNOTINSTALLED;
    return m_register(bufferSize, connections, blocks, blockLength, applId);
}
uint32_t CCapiBinding::Release(uint32_t applId) { return m_release ? m_release(applId) : CAPI_NOTINSTALLED; }
uint32_t CCapiBinding::PutMessage(uint32_t applId, const void* message) {
    return m_putMessage ? m_putMessage(applId, message) : CAPI_NOTINSTALLED;
}
uint32_t CCapiBinding::GetMessage(uint32_t applId, void** message) {
    return m_getMessage ? m_getMessage(applId, message) : CAPI_NOTINSTALLED;
}
uint32_t CCapiBinding::GetManufacturer(char* buffer) {
    return m_getManufacturer ? m_getManufacturer(buffer) : CAPI_NOTINSTALLED;
}
uint32_t CCapiBinding::GetVersion(uint32_t* major, uint32_t* minor, uint32_t* manuMajor, uint32_t* manuMinor) {
    return m_getVersion ? m_getVersion(major, minor, manuMajor, manuMinor) : CAPI_NOTINSTALLED;
}
uint32_t CCapiBinding::GetSerialNumber(char* buffer) {
    return m_getSerialNumber ? m_getSerialNumber(buffer) : CAPI_NOTINSTALLED;
}
uint32_t CCapiBinding::GetProfile(void* buffer, uint32_t controller) {
    return m_getProfile ? m_getProfile(buffer, controller) : CAPI_NOTINSTALLED;
}
uint32_t CCapiBinding::Installed() { return m_installed ? m_installed() : CAPI_NOTINSTALLED; }
