#include "net/PeerBlock.h"

#include <cstring>

#include "common/ByteOrder.h"

namespace {
struct TextField {
    int blockOffset;
    int blockWidth;
    size_t identityOffset;
    size_t identityWidth;
};
constexpr TextField kFields[] = {
    {0, 25, offsetof(StationIdentity, stationName), sizeof(StationIdentity::stationName)},
    {25, 20, offsetof(StationIdentity, productName), sizeof(StationIdentity::productName)},
    {45, 25, offsetof(StationIdentity, editionName), sizeof(StationIdentity::editionName)},
    {70, 10, offsetof(StationIdentity, versionText), sizeof(StationIdentity::versionText)},
    {80, 16, offsetof(StationIdentity, buildDate), sizeof(StationIdentity::buildDate)},
};

// Copies a text of at most (width - 1) characters, stopping at its terminator.
size_t CopyText(char* dst, size_t dstWidth, const char* src, size_t srcWidth) {
    size_t n = 0;
    const size_t max = (dstWidth < srcWidth ? dstWidth : srcWidth) - 1;
    while (n < max && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
    return n;
}
}  // namespace

StationIdentity StationIdentityFromPeerBlock(const uint8_t* block) {
    StationIdentity id;  // zero-filled texts, size 124
    char* base = reinterpret_cast<char*>(&id);
    for (const TextField& f : kFields) {
        CopyText(base + f.identityOffset, f.identityWidth, reinterpret_cast<const char*>(block + f.blockOffset),
                 static_cast<size_t>(f.blockWidth));
    }
    id.versionNumber = GetLe32(block + 96);
    return id;
}

void PeerBlockFromStationIdentity(const StationIdentity& id, uint8_t* block) {
    std::memset(block, 0, kPeerBlockBytes);
    const char* base = reinterpret_cast<const char*>(&id);
    for (const TextField& f : kFields) {
        CopyText(reinterpret_cast<char*>(block + f.blockOffset), static_cast<size_t>(f.blockWidth),
                 base + f.identityOffset, f.identityWidth);
    }
    PutLe32(block + 96, id.versionNumber);
}

void BuildPeerPacket(const StationIdentity& id, uint8_t* packet) {
    packet[0] = 0xFF;
    packet[1] = 0x10;
    PutLe16(packet + 2, kPeerBlockSubtype);
    PutLe16(packet + 4, kPeerBlockBytes);
    PeerBlockFromStationIdentity(id, packet + 6);
}
