#pragma once
// The flat CAPI 2.0 message record both deliverables share: one member per
// CAPI parameter, filled by the caller and encoded by `Dizuvo`, or decoded by
// `Dizuvo` from a message the CAPI library delivered. Structure members point
// to CAPI structures (length byte first; 0xFF and a 16-bit length for long
// ones) or are null for empty. Decoded pointers point into the delivered
// message and stay valid until the application's next CAPI_GET_MESSAGE.
//
// DATA_B3 carries its data address in CAPI's 64-bit data parameter (`Data64`);
// the 32-bit `Data` word is sent as 0 and ignored on receipt.
#include <cstddef>
#include <cstdint>

struct CapiMessage {
    uint16_t ApplId;
    uint8_t Command;
    uint8_t Subcommand;
    uint16_t Messagenumber;
    uint32_t adr;  // controller, PLCI or NCCI

    uint32_t AdditionalInfo;  // sub-structure flag: 0 compose, 1 empty
    const uint8_t* B1configuration;
    uint16_t B1protocol;
    const uint8_t* B2configuration;
    uint16_t B2protocol;
    const uint8_t* B3configuration;
    uint16_t B3protocol;
    const uint8_t* BC;
    const uint8_t* BChannelinformation;
    uint32_t BProtocol;  // sub-structure flag
    const uint8_t* CalledPartyNumber;
    const uint8_t* CalledPartySubaddress;
    const uint8_t* CallingPartyNumber;
    const uint8_t* CallingPartySubaddress;
    uint32_t CIPmask;
    uint32_t CIPmask2;
    uint16_t CIPValue;
    uint32_t Class;
    const uint8_t* ConnectedNumber;
    const uint8_t* ConnectedSubaddress;
    uint32_t Data;
    uint16_t DataHandle;
    uint16_t DataLength;
    const uint8_t* FacilityConfirmationParameter;
    const uint8_t* Facilitydataarray;
    const uint8_t* FacilityIndicationParameter;
    const uint8_t* FacilityRequestParameter;
    const uint8_t* FacilityResponseParameters;
    uint16_t FacilitySelector;
    uint16_t Flags;
    uint32_t Function;
    const uint8_t* HLC;
    uint16_t Info;
    const uint8_t* InfoElement;
    uint32_t InfoMask;
    uint16_t InfoNumber;
    const uint8_t* Keypadfacility;
    const uint8_t* LLC;
    const uint8_t* ManuData;
    uint32_t ManuID;
    const uint8_t* NCPI;
    uint16_t Reason;
    uint16_t Reason_B3;
    uint16_t Reject;
    const uint8_t* Useruserdata;
    uint64_t Data64;

    // Used while encoding or decoding.
    uint32_t l;            // current message length
    uint32_t p;            // current parameter index
    const uint8_t* par;    // parameter list in use
    const uint8_t* m;      // message bytes in use
};

// Commands and subcommands.
constexpr uint8_t CAPI_ALERT = 0x01;
constexpr uint8_t CAPI_CONNECT = 0x02;
constexpr uint8_t CAPI_CONNECT_ACTIVE = 0x03;
constexpr uint8_t CAPI_DISCONNECT = 0x04;
constexpr uint8_t CAPI_LISTEN = 0x05;
constexpr uint8_t CAPI_INFO = 0x08;
constexpr uint8_t CAPI_SELECT_B_PROTOCOL = 0x41;
constexpr uint8_t CAPI_FACILITY = 0x80;
constexpr uint8_t CAPI_CONNECT_B3 = 0x82;
constexpr uint8_t CAPI_CONNECT_B3_ACTIVE = 0x83;
constexpr uint8_t CAPI_DISCONNECT_B3 = 0x84;
constexpr uint8_t CAPI_DATA_B3 = 0x86;
constexpr uint8_t CAPI_RESET_B3 = 0x87;
constexpr uint8_t CAPI_CONNECT_B3_T90_ACTIVE = 0x88;
constexpr uint8_t CAPI_MANUFACTURER = 0xFF;

constexpr uint8_t CAPI_REQ = 0x80;
constexpr uint8_t CAPI_CONF = 0x81;
constexpr uint8_t CAPI_IND = 0x82;
constexpr uint8_t CAPI_RESP = 0x83;

// Result and info words.
constexpr unsigned CAPI_NOERROR = 0x0000;
constexpr unsigned CAPI_REGOSRESOURCEERR = 0x1008;
constexpr unsigned CAPI_REGNOTINSTALLED = 0x1009;
constexpr unsigned CAPI_ILLAPPNR = 0x1101;
constexpr unsigned CAPI_ILLCMDORSUBCMDORMSGTOSMALL = 0x1102;
constexpr unsigned CAPI_SENDQUEUEFULL = 0x1103;
constexpr unsigned CAPI_RECEIVEQUEUEEMPTY = 0x1104;
constexpr unsigned CAPI_MSGOSRESOURCEERR = 0x1108;
constexpr unsigned CAPI_NOTINSTALLED = 0x1109;
constexpr unsigned CAPI_MESSAGENOTSUPPORTEDINCURRENTSTATE = 0x2001;
constexpr unsigned CAPI_ILLCONTRPLCINCCI = 0x2002;
constexpr unsigned CAPI_NOPLCIAVAILABLE = 0x2003;
constexpr unsigned CAPI_ILLMESSAGEPARMCODING = 0x2007;
constexpr unsigned CAPI_LAYER1_ERROR = 0x3301;  // the line is broken
constexpr unsigned CAPI_NOTANSWERED = 0x3304;  // another application took the call

// Q.850 causes as CAPI reasons: 0x3480 + cause.
constexpr unsigned CAPI_CAUSE_UNALLOCATED_NUMBER = 0x3481;
constexpr unsigned CAPI_CAUSE_NORMAL_CLEARING = 0x3490;
constexpr unsigned CAPI_CAUSE_USER_BUSY = 0x3491;
constexpr unsigned CAPI_CAUSE_NO_USER_RESPONDING = 0x3492;
constexpr unsigned CAPI_CAUSE_NO_ANSWER = 0x3493;
constexpr unsigned CAPI_CAUSE_CALL_REJECTED = 0x3495;
constexpr unsigned CAPI_CAUSE_NO_CHANNEL = 0x34A2;

// CIP values.
constexpr unsigned CAPI_CIP_SPEECH = 1;
constexpr unsigned CAPI_CIP_UNRESTRICTED = 2;
constexpr unsigned CAPI_CIP_AUDIO_3K1 = 4;
constexpr unsigned CAPI_CIP_TELEPHONY = 16;

// Largest encoded message.
constexpr size_t kCapiMessageBufferBytes = 2048;
