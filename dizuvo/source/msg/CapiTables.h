#pragma once
// The two tables that drive the message layer: what each parameter is (its
// type and the member holding it) and, per command and subcommand, the
// parameters of the message in order.
#include <cstddef>
#include <cstdint>

enum CapiParamType : uint8_t {
    kCapiByte = 1,
    kCapiWord = 2,
    kCapiDword = 3,
    kCapiQword = 4,  // the 64-bit data address of DATA_B3
    kCapiStruct = 5,
    kCapiBegin = 6,  // sub-structure; the member is its flag word
    kCapiEnd = 7,    // of a sub-structure, or of the list
};

struct CapiParamDef {
    CapiParamType type;
    size_t offset;  // of the member in CapiMessage
};

// Indices into the parameter definitions: 0..2 end entries, 3 the address,
// then one per member.
enum CapiParam : uint8_t {
    kEnd = 0,
    kAdr = 3,
    kAdditionalInfo,
    kB1configuration,
    kB1protocol,
    kB2configuration,
    kB2protocol,
    kB3configuration,
    kB3protocol,
    kBC,
    kBChannelinformation,
    kBProtocol,
    kCalledPartyNumber,
    kCalledPartySubaddress,
    kCallingPartyNumber,
    kCallingPartySubaddress,
    kCIPmask,
    kCIPmask2,
    kCIPValue,
    kClass,
    kConnectedNumber,
    kConnectedSubaddress,
    kData,
    kDataHandle,
    kDataLength,
    kFacilityConfirmationParameter,
    kFacilitydataarray,
    kFacilityIndicationParameter,
    kFacilityRequestParameter,
    kFacilityResponseParameters,
    kFacilitySelector,
    kFlags,
    kFunction,
    kHLC,
    kInfo,
    kInfoElement,
    kInfoMask,
    kInfoNumber,
    kKeypadfacility,
    kLLC,
    kManuData,
    kManuID,
    kNCPI,
    kReason,
    kReason_B3,
    kReject,
    kUseruserdata,
    kData64,
    kCapiParamCount,
};

const CapiParamDef& CapiParamDefinition(uint8_t param);
// The parameter list of a message, ending with kEnd; null for a command or
// subcommand CAPI 2.0 does not define.
const uint8_t* CapiCommandParams(uint8_t command, uint8_t subcommand);
// "CONNECT_REQ" and so on; "?" for an undefined message.
const char* CapiMessageName(uint8_t command, uint8_t subcommand);
