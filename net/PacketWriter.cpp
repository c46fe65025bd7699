#include "net/PacketWriter.h"

#include <cstring>

#include "common/ByteOrder.h"

namespace {
constexpr int kPcmHeaderBytes = 12;
constexpr int kMpegL3TrailerBytes = 2;
constexpr int kPcmPacketsPerFrame = 8;
}  // namespace

AudioPacketLayout AudioPacketLayoutFor(const AudioFormat& format) {
    AudioPacketLayout layout;
    switch (format.codingType) {
    case CODING_PCM:
        layout.header = kPcmHeaderBytes;
        layout.payload = format.frameBytes / kPcmPacketsPerFrame;
        break;
    case CODING_MPEG_L2: layout.payload = format.frameBytes; break;
    case CODING_MPEG_L3:
        layout.payload = format.frameBytes;
        layout.trailer = kMpegL3TrailerBytes;
        break;
    default: break;
    }
    return layout;
}

int WriteAudioPacket(const AudioPacketLayout& layout, const AudioFormat& format, const uint8_t* payload,
                     uint8_t* out) {
    if (layout.header) {
        out[0] = 0xFF;
        out[1] = 0x70;
        PutLe16(out + 2, static_cast<uint16_t>(layout.payload));
        PutLe32(out + 4, static_cast<uint32_t>(format.sampleRate));
        out[8] = 16;
        out[9] = format.deviceMode == DEVICEMODE_MONO ? 1 : 2;
        out[10] = 0;
        out[11] = 0;
    }
    std::memcpy(out + layout.header, payload, static_cast<size_t>(layout.payload));
    std::memset(out + layout.header + layout.payload, 0, static_cast<size_t>(layout.trailer));
    return layout.Total();
}
