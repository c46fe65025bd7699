#pragma once
// A Layer II frame as a packet-protocol peer sends one: 128 kbit/s, 48 kHz,
// stereo, 384 bytes, whose last byte says that no extra bytes follow.
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> Layer2PacketFrame(std::vector<uint8_t> body) {
    body.resize(384);
    body[0] = 0xFF;
    body[1] = 0xFD;
    body[2] = 0x84;
    body[3] = 0x00;
    body[383] = 0;
    return body;
}
