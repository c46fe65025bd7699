#include "mp3enc/l3core/core/bitmux/FrameFormat.h"

namespace {

struct BlockCode {
    int blockType;
    int mixed;
};
// By the encoder's block type; type 0 writes neither field.
constexpr BlockCode kBlockCode[7] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {1, 1}, {2, 1}, {3, 1}};

struct BufferSink {
    BitBuffer* buffer;
    void Put(uint32_t value, int bits) { WriteBits(buffer, value, bits); }
};

}  // namespace

int SideInfoBits(int version, int channels) {
    if (version == 0) return channels == 1 ? 136 : 256;
    return channels == 1 ? 72 : 136;
}

void WriteFrameHeader(BitBuffer* buffer, const FrameHeaderFields& h) {
    WriteBits(buffer, h.version == 2 ? 4094 : 4095, 12);
    WriteBits(buffer, h.version == 0 ? 1 : 0, 1);
    WriteBits(buffer, 1, 2);  // Layer III
    WriteBits(buffer, h.crc ? 0 : 1, 1);
    WriteBits(buffer, static_cast<uint32_t>(h.bitRateIndex), 4);
    WriteBits(buffer, static_cast<uint32_t>(h.samplingIndex), 2);
    WriteBits(buffer, static_cast<uint32_t>(h.paddingBit), 1);
    WriteBits(buffer, static_cast<uint32_t>(h.privateBit), 1);
    WriteBits(buffer, static_cast<uint32_t>(h.mode), 2);
    WriteBits(buffer, static_cast<uint32_t>(h.modeExtension), 2);
    WriteBits(buffer, static_cast<uint32_t>(h.copyright), 1);
    WriteBits(buffer, static_cast<uint32_t>(h.original), 1);
    WriteBits(buffer, static_cast<uint32_t>(h.emphasis), 2);
    if (h.crc) WriteBits(buffer, 0, 16);  // filled in by WriteCrc
}

void WriteSideInfoStart(BitBuffer* buffer, int version, int channels, int mainDataBegin) {
    if (version == 0) {
        WriteBits(buffer, static_cast<uint32_t>(mainDataBegin), 9);
        WriteBits(buffer, 0, channels == 1 ? 5 : 3);
    } else {
        WriteBits(buffer, static_cast<uint32_t>(mainDataBegin), 8);
        WriteBits(buffer, 0, channels == 1 ? 1 : 2);
    }
}

void WriteScfsi(BitBuffer* buffer, const GranuleInfo& info) {
    for (int s : info.scfsi) WriteBits(buffer, static_cast<uint32_t>(s), 1);
}

void WriteGranuleSideInfo(BitBuffer* buffer, const GranuleInfo& info, int part23Length) {
    const HuffmanData& h = info.huffman;
    WriteBits(buffer, static_cast<uint32_t>(part23Length), 12);
    WriteBits(buffer, static_cast<uint32_t>(h.bigValues), 9);
    WriteBits(buffer, static_cast<uint32_t>(info.globalGain + 150), 8);
    WriteBits(buffer, static_cast<uint32_t>(info.scalefacCompress), info.lowerRate ? 9 : 4);
    if (info.blockType == 0) {
        WriteBits(buffer, 0, 1);
        for (int r = 0; r < 3; ++r) WriteBits(buffer, static_cast<uint32_t>(h.table[r]), 5);
        WriteBits(buffer, static_cast<uint32_t>(h.region0Count), 4);
        WriteBits(buffer, static_cast<uint32_t>(h.region1Count), 3);
    } else {
        const BlockCode& code = kBlockCode[info.blockType];
        WriteBits(buffer, 1, 1);
        WriteBits(buffer, static_cast<uint32_t>(code.blockType), 2);
        WriteBits(buffer, static_cast<uint32_t>(code.mixed), 1);
        for (int r = 0; r < 2; ++r) WriteBits(buffer, static_cast<uint32_t>(h.table[r]), 5);
        for (int g : info.subblockGain) WriteBits(buffer, static_cast<uint32_t>(g), 3);
    }
    if (!info.lowerRate) WriteBits(buffer, static_cast<uint32_t>(info.preflag), 1);
    WriteBits(buffer, static_cast<uint32_t>(info.scalefacScale), 1);
    WriteBits(buffer, static_cast<uint32_t>(h.count1Table), 1);
}

uint32_t UpdateCrc(uint32_t crc, uint32_t polynomial, uint32_t topBit, int bitCount, BitBuffer* buffer) {
    for (int i = 0; i < bitCount; ++i) {
        const uint32_t bit = ReadBits(buffer, 1);
        const bool out = (crc & topBit) != 0;
        crc <<= 1;
        if (out != (bit != 0)) crc ^= polynomial;
    }
    return crc & (topBit | (topBit - 1));
}

void WriteCrc(BitBuffer* buffer, int headerPosition, int sideInfoBits) {
    const int read = SeekReadPosition(buffer, 0);
    SeekReadPosition(buffer, headerPosition - read);
    SeekReadPosition(buffer, 16);
    uint32_t crc = UpdateCrc(0xFFFF, kCrcPolynomial, 0x8000, 16, buffer);
    SeekReadPosition(buffer, 16);
    crc = UpdateCrc(crc, kCrcPolynomial, 0x8000, sideInfoBits, buffer);
    SeekReadPosition(buffer, read - SeekReadPosition(buffer, 0));
    SeekWritePosition(buffer, -(sideInfoBits + 16));
    WriteBits(buffer, crc & 0xFFFF, 16);
    SeekWritePosition(buffer, sideInfoBits);
}

void WriteMainData(BitBuffer* buffer, const GranuleInfo& info, const int* values) {
    int at = 0;
    for (int g = 0; g < 4; ++g) {
        const int count = info.groupCount[g];
        if (info.scfsi[g] == 0 && info.slen[g] > 0)
            for (int k = 0; k < count && at + k < kMaxScalefactors; ++k)
                WriteBits(buffer, static_cast<uint32_t>(info.scalefac[at + k]), info.slen[g]);
        at += count;
    }
    BufferSink sink{buffer};
    WriteHuffman(values, info.huffman, sink);
}
