#pragma once
// The remote-control protocol: an 8-byte header {u32 command, u32 body size},
// little-endian, then the body. Codes and body sizes as the control
// applications know them.
#include <cstdint>

constexpr uint32_t RIP_CMD_PROTOCOL_ERROR = 1;
constexpr uint32_t RIP_CMD_IDENTITY = 2;
constexpr uint32_t RIP_CMD_MAKE_CONNECTION = 0x100;
constexpr uint32_t RIP_CMD_STOP_CONNECTION = 0x101;
constexpr uint32_t RIP_CMD_SET_ENCODER = 0x10010;
constexpr uint32_t RIP_CMD_ANSWER_SETTINGS = 0x10020;
constexpr uint32_t RIP_CMD_STATE = 0x20010;
constexpr uint32_t RIP_CMD_CONNECTION_INFO = 0x20020;
constexpr uint32_t RIP_CMD_BANDWIDTH_INFO = 0x20021;
constexpr uint32_t RIP_CMD_REMOTE_IDENTITY = 0x20022;
constexpr uint32_t RIP_CMD_ENCODER_FORMAT = 0x20030;
constexpr uint32_t RIP_CMD_DECODER_FORMAT = 0x20031;
constexpr uint32_t RIP_CMD_CONNECTION_ERROR = 0x30010;
constexpr uint32_t RIP_CMD_MESSAGE_ERROR = 0x30020;

constexpr uint32_t RIP_REASON_UNKNOWN = 16;   // unknown command, or media type not allowed
constexpr uint32_t RIP_REASON_BAD_BODY = 32;  // body missing or short, or coding type not accepted

// Media types of requests and reports.
constexpr uint32_t RIP_MEDIA_NETWORK = 0x11;
constexpr uint32_t RIP_MEDIA_ISDN = 0x20;
constexpr uint32_t RIP_MEDIA_MULTICAST = 0x80;

constexpr int kRipHeaderBytes = 8;
constexpr int kRipMaxBody = 1024;
constexpr int kRipIdentityBytes = 74;
constexpr int kRipRemoteIdentityBytes = 110;
constexpr int kRipConnectionErrorBytes = 88;

// Request and report sizes per media type.
constexpr int kRipNetworkRequestBytes = 104;
constexpr int kRipIsdnRequestBytes = 84;
constexpr int kRipMulticastRequestBytes = 100;
constexpr int kRipEncoderRequestBytes = 16;
