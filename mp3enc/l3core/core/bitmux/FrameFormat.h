#pragma once
// The fields of a Layer III frame laid into a bit ring: the 32-bit header,
// the CRC, the side information and the main data of each granule and
// channel. Block types of the encoder: 0 long, 1 start, 2 short, 3 stop,
// 4 start with mixed blocks, 5 short with mixed blocks, 6 stop with mixed blocks.
#include <cstdint>

#include "mp3enc/bitmux/BitBuffer.h"
#include "mp3enc/l3core/core/bitmux/GranuleInfo.h"

struct FrameHeaderFields {
    int version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int crc;
    int bitRateIndex;
    int samplingIndex;
    int paddingBit;
    int privateBit;
    int mode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExtension;
    int copyright;
    int original;
    int emphasis;
};

inline constexpr int kCrcPolynomial = 0x8005;

// Side-information bits (without header and CRC).
int SideInfoBits(int version, int channels);

void WriteFrameHeader(BitBuffer* buffer, const FrameHeaderFields& header);
// main_data_begin and the private bits.
void WriteSideInfoStart(BitBuffer* buffer, int version, int channels, int mainDataBegin);
void WriteScfsi(BitBuffer* buffer, const GranuleInfo& info);
void WriteGranuleSideInfo(BitBuffer* buffer, const GranuleInfo& info, int part23Length);
// Fills the 16-bit CRC field behind the header that starts at bit
// headerPosition, over the header's last 16 bits and sideInfoBits of side
// information; both positions of the ring end where they were.
void WriteCrc(BitBuffer* buffer, int headerPosition, int sideInfoBits);
// Scale factors, big values and count1 quadruples of one granule and channel.
void WriteMainData(BitBuffer* buffer, const GranuleInfo& info, const int* values);
// Runs bitCount bits from the read position through the CRC register.
uint32_t UpdateCrc(uint32_t crc, uint32_t polynomial, uint32_t topBit, int bitCount, BitBuffer* buffer);
