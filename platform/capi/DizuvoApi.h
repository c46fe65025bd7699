#pragma once
// The 21 exports of `Dizuvo` as the program binds them by name. Arguments
// are 32-bit values narrowed inside; results are CAPI result words unless
// said otherwise.
#include <cstdint>

#include "platform/capi/CapiMessage.h"

extern "C" {
using DCapiConnectActiveRespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t plci);
using DCapiConnectB3ActiveRespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t ncci);
using DCapiConnectB3ReqFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t plci,
                                         const uint8_t* ncpi);
using DCapiConnectB3RespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t ncci,
                                          uint32_t reject, const uint8_t* ncpi);
using DCapiDataB3RespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t ncci,
                                       uint32_t dataHandle);
using DCapiDisconnectB3RespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t ncci);
using DCapiDisconnectReqFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t plci,
                                          const uint8_t* bChannelInformation, const uint8_t* keypadFacility,
                                          const uint8_t* userUserData, const uint8_t* facilityDataArray);
using DCapiDisconnectRespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t plci);
// The buffer (64 bytes at least) is returned.
using DCapiGetManufacturerFn = char* (*)(char* buffer);
using DCapiGetMsgFn = uint32_t (*)(CapiMessage*, uint32_t applId);
using DCapiGetProfileFn = uint32_t (*)(uint32_t controller, void* buffer);
using DCapiGetSerialNumberFn = char* (*)(char* buffer);
// Four bytes: CAPI major, CAPI minor, manufacturer major, manufacturer minor.
using DCapiGetVersionFn = uint8_t* (*)(uint8_t* buffer);
using DCapiInfoRespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t address);
// 1 when CAPI is installed, else 0.
using DCapiIsInstalledFn = uint32_t (*)();
using DCapiPrepMsgHeaderFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t command, uint32_t subcommand,
                                          uint32_t number, uint32_t adr);
using DCapiPutMsgFn = uint32_t (*)(CapiMessage*);
// The application identifier (0 on failure); the CAPI result goes to *result.
using DCapiRegisterFn = uint32_t (*)(uint32_t messageBufferSize, uint32_t maxLogicalConnections,
                                     uint32_t maxB3Blocks, uint32_t maxB3BlockLength, uint32_t* result);
using DCapiReleaseFn = uint32_t (*)(uint32_t applId);
using DCapiResetB3ReqFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t ncci,
                                       const uint8_t* ncpi);
using DCapiResetB3RespFn = uint32_t (*)(CapiMessage*, uint32_t applId, uint32_t number, uint32_t ncci);
}
