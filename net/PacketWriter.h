#pragma once
// Writes audio in the packet protocol the stream parser reads: PCM packets
// with their 12-byte header (FF 70), MPEG frames as they are, Layer III
// followed by two trailer bytes (no extra bytes).
#include <cstdint>

#include "common/Records.h"

struct AudioPacketLayout {
    int header = 0;
    int payload = 0;  // bytes of audio per packet; 0 = the protocol cannot carry the format
    int trailer = 0;
    int Total() const { return header + payload + trailer; }
};

AudioPacketLayout AudioPacketLayoutFor(const AudioFormat& format);
// One packet of layout.payload bytes from payload into out (layout.Total()
// bytes); returns the bytes written.
int WriteAudioPacket(const AudioPacketLayout& layout, const AudioFormat& format, const uint8_t* payload,
                     uint8_t* out);
