#include "net/CapiLoader.h"

#include <cstdlib>

namespace {
constexpr const char* kDizuvoName = "libDizuvo.so";

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(GetProcAddress(module, name));
}
}  // namespace

CCapiLoader::CCapiLoader() { Load(); }

CCapiLoader::~CCapiLoader() { Unload(); }

void CCapiLoader::Clear() {
    m_usable = 0;
    m_isInstalled = nullptr;
    m_register = nullptr;
    m_release = nullptr;
    m_getProfile = nullptr;
    m_putMsg = nullptr;
    m_getMsg = nullptr;
    m_prepMsgHeader = nullptr;
    m_connectB3Req = nullptr;
    m_connectB3Resp = nullptr;
    m_connectActiveResp = nullptr;
    m_connectB3ActiveResp = nullptr;
    m_disconnectReq = nullptr;
    m_disconnectResp = nullptr;
    m_disconnectB3Resp = nullptr;
    m_dataB3Resp = nullptr;
    m_resetB3Req = nullptr;
    m_resetB3Resp = nullptr;
    m_infoResp = nullptr;
    m_getVersion = nullptr;
    m_getManufacturer = nullptr;
    m_getSerialNumber = nullptr;
}

int CCapiLoader::Load() {
    if (m_module) return m_usable ? 1 : kMissing;
    const char* name = std::getenv("VELMORA_DIZUVO_LIBRARY");
    m_module = LoadLibraryA(name && *name ? name : kDizuvoName);
    if (!m_module) return 0;
    Bind(m_module, "DCapiIsInstalled", m_isInstalled);
    Bind(m_module, "DCapiRegister", m_register);
    Bind(m_module, "DCapiRelease", m_release);
    Bind(m_module, "DCapiGetProfile", m_getProfile);
    Bind(m_module, "DCapiPutMsg", m_putMsg);
    Bind(m_module, "DCapiGetMsg", m_getMsg);
    Bind(m_module, "DCapiPrepMsgHeader", m_prepMsgHeader);
    Bind(m_module, "DCapiConnectB3Req", m_connectB3Req);
    Bind(m_module, "DCapiConnectB3Resp", m_connectB3Resp);
    Bind(m_module, "DCapiConnectActiveResp", m_connectActiveResp);
    Bind(m_module, "DCapiConnectB3ActiveResp", m_connectB3ActiveResp);
    Bind(m_module, "DCapiDisconnectReq", m_disconnectReq);
    Bind(m_module, "DCapiDisconnectResp", m_disconnectResp);
    Bind(m_module, "DCapiDisconnectB3Resp", m_disconnectB3Resp);
    Bind(m_module, "DCapiDataB3Resp", m_dataB3Resp);
    Bind(m_module, "DCapiResetB3Req", m_resetB3Req);
    Bind(m_module, "DCapiResetB3Resp", m_resetB3Resp);
    Bind(m_module, "DCapiInfoResp", m_infoResp);
    Bind(m_module, "DCapiGetVersion", m_getVersion);
    Bind(m_module, "DCapiGetManufacturer", m_getManufacturer);
    Bind(m_module, "DCapiGetSerialNumber", m_getSerialNumber);
    m_usable = m_putMsg && m_getMsg && m_prepMsgHeader && m_dataB3Resp ? 1 : 0;
    return m_usable ? 1 : kMissing;
}

int CCapiLoader::Unload() {
    if (!m_module) return 0;
    const int r = FreeLibrary(m_module);
    m_module = nullptr;
    Clear();
    return r;
}

int CCapiLoader::IsInstalled() {
    if (!m_module && Load() == 0) return 0;
    return m_isInstalled ? static_cast<int>(m_isInstalled()) : 0;
}

int CCapiLoader::GetManufacturer(char* buffer) {
    if (!buffer) return 0;
    buffer[0] = '\0';
    if (!m_getManufacturer) return 0;
    m_getManufacturer(buffer);
    return 1;
}

#define CALL_OR_MISSING(fn, ...) return fn ? static_cast<int>(fn(__VA_ARGS__)) : kMissing

int CCapiLoader::Register(uint32_t bufferSize, uint32_t connections, uint32_t blocks, uint32_t blockLength,
                          uint32_t* result) {
    CALL_OR_MISSING(m_register, bufferSize, connections, blocks, blockLength, result);
}
int CCapiLoader::Release(uint32_t applId) { CALL_OR_MISSING(m_release, applId); }
int CCapiLoader::GetProfile(uint32_t controller, void* buffer) { CALL_OR_MISSING(m_getProfile, controller, buffer); }
int CCapiLoader::PutMsg(CapiMessage* cmsg) { CALL_OR_MISSING(m_putMsg, cmsg); }
int CCapiLoader::GetMsg(CapiMessage* cmsg, uint32_t applId) { CALL_OR_MISSING(m_getMsg, cmsg, applId); }
int CCapiLoader::PrepMsgHeader(CapiMessage* cmsg, uint32_t applId, uint32_t command, uint32_t subcommand,
                               uint32_t number, uint32_t adr) {
    CALL_OR_MISSING(m_prepMsgHeader, cmsg, applId, command, subcommand, number, adr);
}
int CCapiLoader::ConnectB3Req(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci,
                              const uint8_t* ncpi) {
    CALL_OR_MISSING(m_connectB3Req, cmsg, applId, number, plci, ncpi);
}
int CCapiLoader::ConnectB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci, uint32_t reject,
                               const uint8_t* ncpi) {
    CALL_OR_MISSING(m_connectB3Resp, cmsg, applId, number, ncci, reject, ncpi);
}
int CCapiLoader::ConnectActiveResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci) {
    CALL_OR_MISSING(m_connectActiveResp, cmsg, applId, number, plci);
}
int CCapiLoader::ConnectB3ActiveResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci) {
    CALL_OR_MISSING(m_connectB3ActiveResp, cmsg, applId, number, ncci);
}
int CCapiLoader::DisconnectReq(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci) {
    CALL_OR_MISSING(m_disconnectReq, cmsg, applId, number, plci, nullptr, nullptr, nullptr, nullptr);
}
int CCapiLoader::DisconnectResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci) {
    CALL_OR_MISSING(m_disconnectResp, cmsg, applId, number, plci);
}
int CCapiLoader::DisconnectB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci) {
    CALL_OR_MISSING(m_disconnectB3Resp, cmsg, applId, number, ncci);
}
int CCapiLoader::DataB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci, uint32_t handle) {
    CALL_OR_MISSING(m_dataB3Resp, cmsg, applId, number, ncci, handle);
}
int CCapiLoader::ResetB3Req(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci, const uint8_t* ncpi) {
    CALL_OR_MISSING(m_resetB3Req, cmsg, applId, number, ncci, ncpi);
}
int CCapiLoader::ResetB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci) {
    CALL_OR_MISSING(m_resetB3Resp, cmsg, applId, number, ncci);
}
int CCapiLoader::InfoResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t address) {
    CALL_OR_MISSING(m_infoResp, cmsg, applId, number, address);
}
int CCapiLoader::GetVersion(uint8_t* buffer) {
    if (!m_getVersion) return kMissing;
    m_getVersion(buffer);
    return 1;
}
int CCapiLoader::GetSerialNumber(char* buffer) {
    if (!m_getSerialNumber) return kMissing;
    m_getSerialNumber(buffer);
    return 1;
}
#undef CALL_OR_MISSING
