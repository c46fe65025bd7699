#pragma once
// Names one station: sent to the peer as peer information and shown when received.
#include <cstddef>
#include <cstdint>

struct StationIdentity {
    uint32_t size = 124;
    char stationName[40] = {};
    char productName[20] = {};
    char editionName[25] = {};
    char versionText[10] = {};
    char buildDate[17] = {};
    uint32_t reserved = 0;  // receivers ignore it
    uint32_t versionNumber = 0;
};
static_assert(sizeof(StationIdentity) == 124);
static_assert(offsetof(StationIdentity, productName) == 44);
static_assert(offsetof(StationIdentity, editionName) == 64);
static_assert(offsetof(StationIdentity, versionText) == 89);
static_assert(offsetof(StationIdentity, buildDate) == 99);
static_assert(offsetof(StationIdentity, reserved) == 116);
static_assert(offsetof(StationIdentity, versionNumber) == 120);

constexpr uint32_t kStationVersionNumber = 66818;  // 0x10502: 1.5 release 2
constexpr size_t kStationIdentityBytes = 124;

void StoreStationIdentity(const StationIdentity& id, uint8_t* out);  // 124 bytes
// Every text comes back terminated within its field, whatever the bytes held.
StationIdentity LoadStationIdentity(const uint8_t* in);
