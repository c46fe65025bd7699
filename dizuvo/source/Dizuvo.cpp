// The 21 exports of the library. Every composer clears and fills the
// caller's record, encodes it into the one static buffer and puts it: one
// thread at a time (the program's call worker).
#include <cstring>

#include "dizuvo/source/CapiBinding.h"
#include "dizuvo/source/msg/CapiCodec.h"
#include "platform/capi/DizuvoApi.h"

#define DIZUVO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
uint8_t g_message[kCapiMessageBufferBytes];
}  // namespace

DIZUVO_EXPORT uint32_t DCapiPrepMsgHeader(CapiMessage* cmsg, uint32_t applId, uint32_t command,
                                          uint32_t subcommand, uint32_t number, uint32_t adr) {
    std::memset(static_cast<void*>(cmsg), 0, sizeof *cmsg);
    cmsg->ApplId = static_cast<uint16_t>(applId);
    cmsg->Command = static_cast<uint8_t>(command);
    cmsg->Subcommand = static_cast<uint8_t>(subcommand);
    cmsg->Messagenumber = static_cast<uint16_t>(number);
    cmsg->adr = adr;
    return 0;
}

DIZUVO_EXPORT uint32_t DCapiPutMsg(CapiMessage* cmsg) {
    const unsigned e = CapiEncode(cmsg, g_message, sizeof g_message);
    if (e != CAPI_NOERROR) return e;
    return CCapiBinding::Get().PutMessage(cmsg->ApplId, g_message);
}

DIZUVO_EXPORT uint32_t DCapiGetMsg(CapiMessage* cmsg, uint32_t applId) {
    void* message = nullptr;
    const uint32_t r = CCapiBinding::Get().GetMessage(applId, &message);
    if (r != CAPI_NOERROR) return r;
    if (!message) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    const auto* bytes = static_cast<const uint8_t*>(message);
    // The platform owns the message; its header says how long it is.
    return CapiDecode(cmsg, bytes, static_cast<size_t>(bytes[0] | (bytes[1] << 8)));
}

DIZUVO_EXPORT uint32_t DCapiConnectActiveResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_CONNECT_ACTIVE, CAPI_RESP, number, plci);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiConnectB3ActiveResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_CONNECT_B3_ACTIVE, CAPI_RESP, number, ncci);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiConnectB3Req(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci,
                                         const uint8_t* ncpi) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_CONNECT_B3, CAPI_REQ, number, plci);
    cmsg->NCPI = ncpi;
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiConnectB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci,
                                          uint32_t reject, const uint8_t* ncpi) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_CONNECT_B3, CAPI_RESP, number, ncci);
    cmsg->Reject = static_cast<uint16_t>(reject);
    cmsg->NCPI = ncpi;
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiDataB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci,
                                       uint32_t dataHandle) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_DATA_B3, CAPI_RESP, number, ncci);
    cmsg->DataHandle = static_cast<uint16_t>(dataHandle);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiDisconnectB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_DISCONNECT_B3, CAPI_RESP, number, ncci);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiDisconnectReq(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci,
                                          const uint8_t* bChannelInformation, const uint8_t* keypadFacility,
                                          const uint8_t* userUserData, const uint8_t* facilityDataArray) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_DISCONNECT, CAPI_REQ, number, plci);
    cmsg->BChannelinformation = bChannelInformation;
    cmsg->Keypadfacility = keypadFacility;
    cmsg->Useruserdata = userUserData;
    cmsg->Facilitydataarray = facilityDataArray;
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiDisconnectResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t plci) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_DISCONNECT, CAPI_RESP, number, plci);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiInfoResp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t address) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_INFO, CAPI_RESP, number, address);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiResetB3Req(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci,
                                       const uint8_t* ncpi) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_RESET_B3, CAPI_REQ, number, ncci);
    cmsg->NCPI = ncpi;
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT uint32_t DCapiResetB3Resp(CapiMessage* cmsg, uint32_t applId, uint32_t number, uint32_t ncci) {
    DCapiPrepMsgHeader(cmsg, applId, CAPI_RESET_B3, CAPI_RESP, number, ncci);
    return DCapiPutMsg(cmsg);
}

DIZUVO_EXPORT char* DCapiGetManufacturer(char* buffer) {
    if (buffer) CCapiBinding::Get().GetManufacturer(buffer);
    return buffer;
}

DIZUVO_EXPORT uint32_t DCapiGetProfile(uint32_t controller, void* buffer) {
    if (!buffer) return CAPI_ILLMESSAGEPARMCODING;
    return CCapiBinding::Get().GetProfile(buffer, controller);
}

DIZUVO_EXPORT char* DCapiGetSerialNumber(char* buffer) {
    if (buffer) CCapiBinding::Get().GetSerialNumber(buffer);
    return buffer;
}

DIZUVO_EXPORT uint8_t* DCapiGetVersion(uint8_t* buffer) {
    if (!buffer) return buffer;
    uint32_t v[4] = {};
    CCapiBinding::Get().GetVersion(&v[0], &v[1], &v[2], &v[3]);
    for (int i = 0; i < 4; ++i) buffer[i] = static_cast<uint8_t>(v[i]);
    return buffer;
}

DIZUVO_EXPORT uint32_t DCapiIsInstalled() { return CCapiBinding::Get().Installed() == CAPI_NOERROR ? 1 : 0; }

DIZUVO_EXPORT uint32_t DCapiRegister(uint32_t messageBufferSize, uint32_t maxLogicalConnections,
                                     uint32_t maxB3Blocks, uint32_t maxB3BlockLength, uint32_t* result) {
    uint32_t applId = 0;
    const uint32_t r =
        CCapiBinding::Get().Register(messageBufferSize, maxLogicalConnections, maxB3Blocks, maxB3BlockLength, &applId);
    if (result) *result = r;
    return r == CAPI_NOERROR ? (applId & 0xFFFF) : 0;
}

DIZUVO_EXPORT uint32_t DCapiRelease(uint32_t applId) { return CCapiBinding::Get().Release(applId); }
