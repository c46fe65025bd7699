#include <gtest/gtest.h>

#include "mp3enc/bitmux/BitBuffer.h"

TEST(BitBuffer, WritesMostSignificantFirstAndWrapsAtTheCapacity) {
    BitBuffer* b = CreateBitBuffer(32);
    ASSERT_NE(b, nullptr);
    WriteBits(b, 0x12, 8);
    WriteBits(b, 0x34, 8);
    EXPECT_EQ(GetBitCount(b), 16);
    EXPECT_EQ(ReadBits(b, 16), 0x1234u);
    EXPECT_EQ(SeekWritePosition(b, 8), 16);  // to 24
    SeekReadPosition(b, 8);                  // read follows
    WriteBits(b, 0xABCD, 16);                // 8 bits at 24..31, 8 at 0..7
    EXPECT_EQ(SeekWritePosition(b, 0), 8);
    EXPECT_EQ(GetBitCount(b), 16);           // write behind read: write - read + capacity
    EXPECT_EQ(ReadBits(b, 16), 0xABCDu);
    EXPECT_EQ(ReadBits(b, 0), 0u);
    EXPECT_EQ(SeekReadPosition(b, -40), 8);  // modulo the capacity
    EXPECT_EQ(SeekReadPosition(b, 0), 0);
    DeleteBitBuffer(b);
    DeleteBitBuffer(nullptr);
    EXPECT_EQ(CreateBitBuffer(0), nullptr);
}

TEST(BitBuffer, CopyMovesWholeWordsThenTheRest) {
    BitBuffer* a = CreateBitBuffer(256);
    BitBuffer* c = CreateBitBuffer(256);
    for (int i = 0; i < 10; ++i) WriteBits(a, static_cast<uint32_t>(i * 37), 7);
    CopyBits(c, a, 70);
    EXPECT_EQ(GetBitCount(a), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ReadBits(c, 7), static_cast<uint32_t>(i * 37) & 127u);
    DeleteBitBuffer(a);
    DeleteBitBuffer(c);
}
