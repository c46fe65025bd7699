#pragma once
// The packet protocol's peer block (164 bytes) and its 170-byte peer packet,
// turned to and from the station identity the control-frame stream carries.
#include <cstdint>

#include "common/StationIdentity.h"

constexpr int kPeerBlockBytes = 164;
constexpr int kPeerPacketBytes = 170;  // FF 10, u16 subtype 16, u16 length 164, block
constexpr int kPeerBlockSubtype = 16;

// Every text comes out terminated within its field, whatever the peer sent.
StationIdentity StationIdentityFromPeerBlock(const uint8_t* block);
void PeerBlockFromStationIdentity(const StationIdentity& id, uint8_t* block);
void BuildPeerPacket(const StationIdentity& id, uint8_t* packet);
