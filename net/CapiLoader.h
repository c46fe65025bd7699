#pragma once
// Binds the 21 exports of the `Dizuvo` library by name at run time. A
// wrapper whose export is missing returns -1 and calls nothing. The library
// is found by name (the program's run path), or at the path given in
// VELMORA_DIZUVO_LIBRARY. Used on the call worker's thread only.
#include <cstdint>

#include "platform/DynamicLibrary.h"
#include "platform/capi/DizuvoApi.h"

class CCapiLoader {
public:
    static constexpr int kMissing = -1;

    CCapiLoader();  // loads
    ~CCapiLoader();
    CCapiLoader(const CCapiLoader&) = delete;
    CCapiLoader& operator=(const CCapiLoader&) = delete;

    // 0 when the library cannot be loaded; 1 when the four entries every
    // message needs are bound; -1 when one of them is missing.
    int Load();
    int Unload();
    int IsLoaded() const { return m_module != nullptr; }
    int IsUsable() const { return m_usable; }

    int IsInstalled();
    // Fills buffer (64 bytes at least); 0 when the entry is missing.
    int GetManufacturer(char* buffer);
    int Register(uint32_t bufferSize, uint32_t connections, uint32_t blocks, uint32_t blockLength, uint32_t* result);
    int Release(uint32_t applId);
    int GetProfile(uint32_t controller, void* buffer);
    int PutMsg(CapiMessage* cmsg);
    int GetMsg(CapiMessage* cmsg, uint32_t applId);
    int PrepMsgHeader(CapiMessage* cmsg, uint32_t applId, uint32_t command, uint32_t subcommand, uint32_t number,
                      uint32_t adr);
    int ConnectB3Req(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci, const uint8_t* ncpi);
    int ConnectB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci, uint32_t reject,
                      const uint8_t* ncpi);
    int ConnectActiveResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci);
    int ConnectB3ActiveResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci);
    int DisconnectReq(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci);
    int DisconnectResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci);
    int DisconnectB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci);
    int DataB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci, uint32_t handle);
    int ResetB3Req(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci, const uint8_t* ncpi);
    int ResetB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci);
    int InfoResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t address);
    int GetVersion(uint8_t* buffer);
    int GetSerialNumber(char* buffer);

private:
    void Clear();

    HMODULE m_module = nullptr;
    int m_usable = 0;
    DCapiIsInstalledFn m_isInstalled = nullptr;
    DCapiRegisterFn m_register = nullptr;
    DCapiReleaseFn m_release = nullptr;
    DCapiGetProfileFn m_getProfile = nullptr;
    DCapiPutMsgFn m_putMsg = nullptr;
    DCapiGetMsgFn m_getMsg = nullptr;
    DCapiPrepMsgHeaderFn m_prepMsgHeader = nullptr;
    DCapiConnectB3ReqFn m_connectB3Req = nullptr;
    DCapiConnectB3RespFn m_connectB3Resp = nullptr;
    DCapiConnectActiveRespFn m_connectActiveResp = nullptr;
    DCapiConnectB3ActiveRespFn m_connectB3ActiveResp = nullptr;
    DCapiDisconnectReqFn m_disconnectReq = nullptr;
    DCapiDisconnectRespFn m_disconnectResp = nullptr;
    DCapiDisconnectB3RespFn m_disconnectB3Resp = nullptr;
    DCapiDataB3RespFn m_dataB3Resp = nullptr;
    DCapiResetB3ReqFn m_resetB3Req = nullptr;
    DCapiResetB3RespFn m_resetB3Resp = nullptr;
    DCapiInfoRespFn m_infoResp = nullptr;
    DCapiGetVersionFn m_getVersion = nullptr;
    DCapiGetManufacturerFn m_getManufacturer = nullptr;
    DCapiGetSerialNumberFn m_getSerialNumber = nullptr;
};
