#include "common/StationIdentity.h"

#include <cstring>

#include "common/ByteOrder.h"

namespace {
void CopyTerminated(char* field, size_t width, const uint8_t* in) {
    std::memcpy(field, in, width);
    field[width - 1] = '\0';
}
}  // namespace

void StoreStationIdentity(const StationIdentity& id, uint8_t* out) {
    std::memset(out, 0, kStationIdentityBytes);
    PutLe32(out + 0, id.size);
    std::memcpy(out + 4, id.stationName, sizeof id.stationName);
    std::memcpy(out + 44, id.productName, sizeof id.productName);
    std::memcpy(out + 64, id.editionName, sizeof id.editionName);
    std::memcpy(out + 89, id.versionText, sizeof id.versionText);
    std::memcpy(out + 99, id.buildDate, sizeof id.buildDate);
    PutLe32(out + 116, id.reserved);
    PutLe32(out + 120, id.versionNumber);
}

StationIdentity LoadStationIdentity(const uint8_t* in) {
    StationIdentity id;
    id.size = GetLe32(in + 0);
    CopyTerminated(id.stationName, sizeof id.stationName, in + 4);
    CopyTerminated(id.productName, sizeof id.productName, in + 44);
    CopyTerminated(id.editionName, sizeof id.editionName, in + 64);
    CopyTerminated(id.versionText, sizeof id.versionText, in + 89);
    CopyTerminated(id.buildDate, sizeof id.buildDate, in + 99);
    id.reserved = GetLe32(in + 116);
    id.versionNumber = GetLe32(in + 120);
    return id;
}
