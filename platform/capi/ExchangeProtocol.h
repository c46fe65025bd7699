#pragma once
// Packets between the CAPI library and the simulated exchange, one per
// datagram on a UNIX sequenced-packet socket named by VELMORA_ISDN_EXCHANGE.
// The first byte says what follows:
//   'R' register: u32 max B3 blocks, u32 max B3 block length
//       reply 'R': u16 info, u16 application identifier
//   'P' profile: u32 controller; reply 'P': u16 info, 64 profile bytes
//   'M' one CAPI message; DATA_B3_REQ and DATA_B3_IND carry their data bytes
//       right after the message (the address parameters are meaningless
//       between processes)
//   'Q' a control line for tests ("active", "busy <number>", "free <number>",
//       "drop <controller> <channel>"); reply 'Q' and a text line
// One connection is one registered application; profile and control
// queries use short connections of their own.
constexpr const char* kExchangeSocketVariable = "VELMORA_ISDN_EXCHANGE";
constexpr char kExchangeRegister = 'R';
constexpr char kExchangeProfile = 'P';
constexpr char kExchangeMessage = 'M';
constexpr char kExchangeQuery = 'Q';
constexpr int kExchangePacketBytes = 8192;
