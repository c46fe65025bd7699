#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mp3enc/l3core/core/bitmux/FrameFormat.h"

namespace {

struct Ring {
    BitBuffer* b = CreateBitBuffer(4096);
    ~Ring() { DeleteBitBuffer(b); }
    std::vector<uint8_t> Bytes() {
        std::vector<uint8_t> out;
        while (GetBitCount(b) >= 8) out.push_back(static_cast<uint8_t>(ReadBits(b, 8)));
        return out;
    }
};

GranuleInfo Granule(int blockType, int lowerRate) {
    GranuleInfo g{};
    g.blockType = blockType;
    g.lowerRate = lowerRate;
    return g;
}

}  // namespace

TEST(FrameFormat, HeadersMatchHandMadeBytes) {
    struct Case {
        FrameHeaderFields h;
        uint8_t bytes[4];
    };
    // 44100 Hz 128 kbit/s stereo; 48000 Hz 320 kbit/s joint stereo with CRC,
    // padding, M/S, copyright, original and emphasis 50/15; 8000 Hz mono at 8 kbit/s.
    const Case cases[] = {
        {{0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0}, {0xFF, 0xFB, 0x90, 0x00}},
        {{0, 1, 14, 1, 1, 1, 1, 2, 1, 1, 1}, {0xFF, 0xFA, 0xE7, 0x6D}},
        {{2, 0, 1, 2, 0, 0, 3, 0, 0, 1, 0}, {0xFF, 0xE3, 0x18, 0xC4}},
        {{1, 0, 8, 0, 1, 0, 1, 1, 0, 0, 0}, {0xFF, 0xF3, 0x82, 0x50}},
    };
    for (const Case& c : cases) {
        Ring r;
        WriteFrameHeader(r.b, c.h);
        const std::vector<uint8_t> got = r.Bytes();
        ASSERT_EQ(got.size(), c.h.crc ? 6u : 4u);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], c.bytes[i]) << "byte " << i;
    }
}

TEST(FrameFormat, CrcIsTheMsbFirstCrc16WithPolynomial8005) {
    Ring r;
    for (char ch : std::string("123456789")) WriteBits(r.b, static_cast<uint8_t>(ch), 8);
    EXPECT_EQ(UpdateCrc(0xFFFF, kCrcPolynomial, 0x8000, 72, r.b), 0xAEE7u);  // CRC-16 check value of this init

    // In a frame it covers the header's last 16 bits and the side information,
    // whatever else the ring holds before it.
    Ring f;
    WriteBits(f.b, 0xABC, 12);
    ReadBits(f.b, 12);
    const int headerAt = SeekWritePosition(f.b, 0);
    FrameHeaderFields h{0, 1, 9, 0, 0, 0, 3, 0, 0, 0, 0};
    WriteFrameHeader(f.b, h);
    const uint32_t side[4] = {0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x4B5A6978};
    for (uint32_t w : side) WriteBits(f.b, w, 32);
    WriteBits(f.b, 0xA5, 8);  // 136 bits of side information
    WriteCrc(f.b, headerAt, 136);
    EXPECT_EQ(SeekReadPosition(f.b, 0), 12);
    EXPECT_EQ(SeekWritePosition(f.b, 0), 12 + 32 + 16 + 136);
    const std::vector<uint8_t> bytes = f.Bytes();
    ASSERT_EQ(bytes.size(), 23u);
    Ring ref;
    WriteBits(ref.b, (uint32_t{bytes[2]} << 8) | bytes[3], 16);
    for (int i = 6; i < 23; ++i) WriteBits(ref.b, bytes[i], 8);
    const uint32_t crc = UpdateCrc(0xFFFF, kCrcPolynomial, 0x8000, 16 + 136, ref.b);
    EXPECT_EQ((uint32_t{bytes[4]} << 8) | bytes[5], crc);
}

TEST(FrameFormat, SideInformationFillsExactlyItsBitsInEveryLayout) {
    for (int version = 0; version < 3; ++version)
        for (int channels = 1; channels <= 2; ++channels)
            for (int blockType = 0; blockType < 7; ++blockType) {
                Ring r;
                WriteSideInfoStart(r.b, version, channels, version == 0 ? 511 : 255);
                const int granules = version == 0 ? 2 : 1;
                GranuleInfo g = Granule(blockType, version != 0);
                if (version == 0)
                    for (int c = 0; c < channels; ++c) WriteScfsi(r.b, g);
                for (int k = 0; k < granules * channels; ++k) WriteGranuleSideInfo(r.b, g, 4095);
                EXPECT_EQ(GetBitCount(r.b), SideInfoBits(version, channels))
                    << "version " << version << " channels " << channels << " block type " << blockType;
            }
    EXPECT_EQ(SideInfoBits(0, 1), 136);
    EXPECT_EQ(SideInfoBits(0, 2), 256);
    EXPECT_EQ(SideInfoBits(1, 2), 136);
    EXPECT_EQ(SideInfoBits(2, 1), 72);
}

TEST(FrameFormat, GranuleFieldsLandWhereTheDecoderReadsThem) {
    // MPEG-1 short block: part2_3_length 1000, big_values 100, global_gain
    // 210, scalefac_compress 11, window switching, block_type 2, mixed 0,
    // tables 7 and 24, subblock gains 1 2 3, preflag 0, scalefac_scale 1,
    // count1 table B.
    GranuleInfo g = Granule(2, 0);
    g.huffman.bigValues = 100;
    g.globalGain = 60;
    g.scalefacCompress = 11;
    g.huffman.table[0] = 7;
    g.huffman.table[1] = 24;
    g.subblockGain[0] = 1;
    g.subblockGain[1] = 2;
    g.subblockGain[2] = 3;
    g.scalefacScale = 1;
    g.huffman.count1Table = 1;
    Ring r;
    WriteGranuleSideInfo(r.b, g, 1000);
    EXPECT_EQ(ReadBits(r.b, 12), 1000u);
    EXPECT_EQ(ReadBits(r.b, 9), 100u);
    EXPECT_EQ(ReadBits(r.b, 8), 210u);
    EXPECT_EQ(ReadBits(r.b, 4), 11u);
    EXPECT_EQ(ReadBits(r.b, 1), 1u);
    EXPECT_EQ(ReadBits(r.b, 2), 2u);
    EXPECT_EQ(ReadBits(r.b, 1), 0u);
    EXPECT_EQ(ReadBits(r.b, 5), 7u);
    EXPECT_EQ(ReadBits(r.b, 5), 24u);
    EXPECT_EQ(ReadBits(r.b, 3), 1u);
    EXPECT_EQ(ReadBits(r.b, 3), 2u);
    EXPECT_EQ(ReadBits(r.b, 3), 3u);
    EXPECT_EQ(ReadBits(r.b, 1), 0u);  // preflag
    EXPECT_EQ(ReadBits(r.b, 1), 1u);
    EXPECT_EQ(ReadBits(r.b, 1), 1u);
    EXPECT_EQ(GetBitCount(r.b), 0);

    // Block type 6 is a stop block with the mixed flag.
    GranuleInfo m = Granule(6, 1);
    Ring s;
    WriteGranuleSideInfo(s.b, m, 0);
    ReadBits(s.b, 12 + 9 + 8 + 9 + 1);
    EXPECT_EQ(ReadBits(s.b, 2), 3u);
    EXPECT_EQ(ReadBits(s.b, 1), 1u);
}

TEST(FrameFormat, MainDataSkipsGroupsWithoutBitsAndFollowsWithTheCodes) {
    GranuleInfo g = Granule(0, 0);
    const int counts[4] = {6, 5, 5, 5};
    std::memcpy(g.groupCount, counts, sizeof counts);
    g.slen[0] = 2;  // scalefac_compress 8: slen 2 and 1
    g.slen[1] = 2;
    g.slen[2] = 1;
    g.slen[3] = 0;  // pretend the last group is all zero
    for (int i = 0; i < 21; ++i) g.scalefac[i] = i < 11 ? i % 4 : (i < 16 ? i % 2 : 0);
    std::vector<int> values(576, 0);
    g.huffman = HuffmanData{};  // no coded values
    g.huffman.zeroLines = 576;
    Ring r;
    WriteMainData(r.b, g, values.data());
    EXPECT_EQ(GetBitCount(r.b), 6 * 2 + 5 * 2 + 5 * 1);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(ReadBits(r.b, 2), static_cast<uint32_t>(i % 4)) << i;
    for (int i = 11; i < 16; ++i) EXPECT_EQ(ReadBits(r.b, 1), static_cast<uint32_t>(i % 2)) << i;
}
