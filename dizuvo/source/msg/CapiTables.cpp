#include "dizuvo/source/msg/CapiTables.h"

#include "platform/capi/CapiMessage.h"

namespace {

#define PARAM(type, member) {type, offsetof(CapiMessage, member)}
constexpr CapiParamDef kParams[kCapiParamCount] = {
    {kCapiEnd, 0},
    {kCapiEnd, 0},
    {kCapiEnd, 0},
    PARAM(kCapiDword, adr),
    PARAM(kCapiBegin, AdditionalInfo),
    PARAM(kCapiStruct, B1configuration),
    PARAM(kCapiWord, B1protocol),
    PARAM(kCapiStruct, B2configuration),
    PARAM(kCapiWord, B2protocol),
    PARAM(kCapiStruct, B3configuration),
    PARAM(kCapiWord, B3protocol),
    PARAM(kCapiStruct, BC),
    PARAM(kCapiStruct, BChannelinformation),
    PARAM(kCapiBegin, BProtocol),
    PARAM(kCapiStruct, CalledPartyNumber),
    PARAM(kCapiStruct, CalledPartySubaddress),
    PARAM(kCapiStruct, CallingPartyNumber),
    PARAM(kCapiStruct, CallingPartySubaddress),
    PARAM(kCapiDword, CIPmask),
    PARAM(kCapiDword, CIPmask2),
    PARAM(kCapiWord, CIPValue),
    PARAM(kCapiDword, Class),
    PARAM(kCapiStruct, ConnectedNumber),
    PARAM(kCapiStruct, ConnectedSubaddress),
    PARAM(kCapiDword, Data),
    PARAM(kCapiWord, DataHandle),
    PARAM(kCapiWord, DataLength),
    PARAM(kCapiStruct, FacilityConfirmationParameter),
    PARAM(kCapiStruct, Facilitydataarray),
    PARAM(kCapiStruct, FacilityIndicationParameter),
    PARAM(kCapiStruct, FacilityRequestParameter),
    PARAM(kCapiStruct, FacilityResponseParameters),
    PARAM(kCapiWord, FacilitySelector),
    PARAM(kCapiWord, Flags),
    PARAM(kCapiDword, Function),
    PARAM(kCapiStruct, HLC),
    PARAM(kCapiWord, Info),
    PARAM(kCapiStruct, InfoElement),
    PARAM(kCapiDword, InfoMask),
    PARAM(kCapiWord, InfoNumber),
    PARAM(kCapiStruct, Keypadfacility),
    PARAM(kCapiStruct, LLC),
    PARAM(kCapiStruct, ManuData),
    PARAM(kCapiDword, ManuID),
    PARAM(kCapiStruct, NCPI),
    PARAM(kCapiWord, Reason),
    PARAM(kCapiWord, Reason_B3),
    PARAM(kCapiWord, Reject),
    PARAM(kCapiStruct, Useruserdata),
    PARAM(kCapiQword, Data64),
};
#undef PARAM

// Sub-structures as they sit inside a list.
#define BPROTOCOL kBProtocol, kB1protocol, kB2protocol, kB3protocol, kB1configuration, kB2configuration, \
                  kB3configuration, kEnd
#define ADDINFO kAdditionalInfo, kBChannelinformation, kKeypadfacility, kUseruserdata, kFacilitydataarray, kEnd

constexpr uint8_t kAlertReq[] = {kAdr, ADDINFO, kEnd};
constexpr uint8_t kPlciInfo[] = {kAdr, kInfo, kEnd};
constexpr uint8_t kAdrOnly[] = {kAdr, kEnd};
constexpr uint8_t kConnectReq[] = {kAdr, kCIPValue, kCalledPartyNumber, kCallingPartyNumber, kCalledPartySubaddress,
                                   kCallingPartySubaddress, BPROTOCOL, kBC, kLLC, kHLC, ADDINFO, kEnd};
constexpr uint8_t kConnectInd[] = {kAdr, kCIPValue, kCalledPartyNumber, kCallingPartyNumber, kCalledPartySubaddress,
                                   kCallingPartySubaddress, kBC, kLLC, kHLC, ADDINFO, kEnd};
constexpr uint8_t kConnectResp[] = {kAdr, kReject, BPROTOCOL, kConnectedNumber, kConnectedSubaddress, kLLC,
                                    ADDINFO, kEnd};
constexpr uint8_t kConnectActiveInd[] = {kAdr, kConnectedNumber, kConnectedSubaddress, kLLC, kEnd};
constexpr uint8_t kDisconnectReq[] = {kAdr, ADDINFO, kEnd};
constexpr uint8_t kDisconnectInd[] = {kAdr, kReason, kEnd};
constexpr uint8_t kListenReq[] = {kAdr, kInfoMask, kCIPmask, kCIPmask2, kCallingPartyNumber,
                                  kCallingPartySubaddress, kEnd};
constexpr uint8_t kInfoReq[] = {kAdr, kCalledPartyNumber, ADDINFO, kEnd};
constexpr uint8_t kInfoInd[] = {kAdr, kInfoNumber, kInfoElement, kEnd};
constexpr uint8_t kSelectBReq[] = {kAdr, BPROTOCOL, kEnd};
constexpr uint8_t kFacilityReq[] = {kAdr, kFacilitySelector, kFacilityRequestParameter, kEnd};
constexpr uint8_t kFacilityConf[] = {kAdr, kInfo, kFacilitySelector, kFacilityConfirmationParameter, kEnd};
constexpr uint8_t kFacilityInd[] = {kAdr, kFacilitySelector, kFacilityIndicationParameter, kEnd};
constexpr uint8_t kFacilityResp[] = {kAdr, kFacilitySelector, kFacilityResponseParameters, kEnd};
constexpr uint8_t kAdrNcpi[] = {kAdr, kNCPI, kEnd};
constexpr uint8_t kConnectB3Resp[] = {kAdr, kReject, kNCPI, kEnd};
constexpr uint8_t kDisconnectB3Ind[] = {kAdr, kReason_B3, kNCPI, kEnd};
constexpr uint8_t kDataB3[] = {kAdr, kData, kDataLength, kDataHandle, kFlags, kData64, kEnd};
constexpr uint8_t kDataB3Conf[] = {kAdr, kDataHandle, kInfo, kEnd};
constexpr uint8_t kDataB3Resp[] = {kAdr, kDataHandle, kEnd};
constexpr uint8_t kManufacturer[] = {kAdr, kManuID, kClass, kFunction, kManuData, kEnd};

#undef BPROTOCOL
#undef ADDINFO

struct CommandRow {
    uint8_t command;
    const char* name;
    const uint8_t* lists[4];  // REQ, CONF, IND, RESP
};

constexpr CommandRow kCommands[] = {
    {CAPI_ALERT, "ALERT", {kAlertReq, kPlciInfo, nullptr, nullptr}},
    {CAPI_CONNECT, "CONNECT", {kConnectReq, kPlciInfo, kConnectInd, kConnectResp}},
    {CAPI_CONNECT_ACTIVE, "CONNECT_ACTIVE", {nullptr, nullptr, kConnectActiveInd, kAdrOnly}},
    {CAPI_DISCONNECT, "DISCONNECT", {kDisconnectReq, kPlciInfo, kDisconnectInd, kAdrOnly}},
    {CAPI_LISTEN, "LISTEN", {kListenReq, kPlciInfo, nullptr, nullptr}},
    {CAPI_INFO, "INFO", {kInfoReq, kPlciInfo, kInfoInd, kAdrOnly}},
    {CAPI_SELECT_B_PROTOCOL, "SELECT_B_PROTOCOL", {kSelectBReq, kPlciInfo, nullptr, nullptr}},
    {CAPI_FACILITY, "FACILITY", {kFacilityReq, kFacilityConf, kFacilityInd, kFacilityResp}},
    {CAPI_CONNECT_B3, "CONNECT_B3", {kAdrNcpi, kPlciInfo, kAdrNcpi, kConnectB3Resp}},
    {CAPI_CONNECT_B3_ACTIVE, "CONNECT_B3_ACTIVE", {nullptr, nullptr, kAdrNcpi, kAdrOnly}},
    {CAPI_DISCONNECT_B3, "DISCONNECT_B3", {kAdrNcpi, kPlciInfo, kDisconnectB3Ind, kAdrOnly}},
    {CAPI_DATA_B3, "DATA_B3", {kDataB3, kDataB3Conf, kDataB3, kDataB3Resp}},
    {CAPI_RESET_B3, "RESET_B3", {kAdrNcpi, kPlciInfo, kAdrNcpi, kAdrOnly}},
    {CAPI_CONNECT_B3_T90_ACTIVE, "CONNECT_B3_T90_ACTIVE", {nullptr, nullptr, kAdrNcpi, kAdrOnly}},
    {CAPI_MANUFACTURER, "MANUFACTURER", {kManufacturer, kManufacturer, kManufacturer, kManufacturer}},
};

const CommandRow* FindCommand(uint8_t command) {
    for (const CommandRow& row : kCommands) {
        if (row.command == command) return &row;
    }
    return nullptr;
}

bool ValidSubcommand(uint8_t subcommand) { return subcommand >= CAPI_REQ && subcommand <= CAPI_RESP; }

}  // namespace

const CapiParamDef& CapiParamDefinition(uint8_t param) {
    return param < kCapiParamCount ? kParams[param] : kParams[kEnd];
}

const uint8_t* CapiCommandParams(uint8_t command, uint8_t subcommand) {
    const CommandRow* row = FindCommand(command);
    if (!row || !ValidSubcommand(subcommand)) return nullptr;
    return row->lists[subcommand & 3];
}

const char* CapiMessageName(uint8_t command, uint8_t subcommand) {
    static const char* const kSuffix[] = {"_REQ", "_CONF", "_IND", "_RESP"};
    static thread_local char name[40];
    const CommandRow* row = FindCommand(command);
    if (!row || !ValidSubcommand(subcommand) || !row->lists[subcommand & 3]) return "?";
    int n = 0;
    for (const char* s = row->name; *s && n < 30; ++s) name[n++] = *s;
    for (const char* s = kSuffix[subcommand & 3]; *s; ++s) name[n++] = *s;
    name[n] = '\0';
    return name;
}
