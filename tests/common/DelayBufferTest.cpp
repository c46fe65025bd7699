#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "common/DelayBuffer.h"

TEST(DelayBufferTest, WritesAreAllOrNothing) {
    CDelayBuffer buffer;
    ASSERT_EQ(buffer.Allocate(100, 10), 1);
    std::vector<uint8_t> bytes(100);
    std::iota(bytes.begin(), bytes.end(), 0);
    ASSERT_EQ(buffer.Write(bytes.data(), 91), 1);
    EXPECT_EQ(buffer.GetFreeSpace(), 9u);
    EXPECT_EQ(buffer.Write(bytes.data(), 10), 0);
    EXPECT_EQ(buffer.GetFill(), 91u) << "nothing stored";
    EXPECT_EQ(buffer.Write(bytes.data() + 91, 9), 1);
    EXPECT_EQ(buffer.GetFreeSpace(), 0u);
    EXPECT_EQ(buffer.Write(bytes.data(), 0), 0);
    EXPECT_EQ(buffer.Write(nullptr, 1), 0);
    std::vector<uint8_t> out(100);
    EXPECT_EQ(buffer.Read(out.data(), 100), 100u);
    EXPECT_EQ(out, bytes);
}

TEST(DelayBufferTest, ReadsTakeFromTheFrontAndKeepTheRestInOrder) {
    CDelayBuffer buffer;
    ASSERT_EQ(buffer.Allocate(64, 4), 1);
    std::vector<uint8_t> bytes(30);
    std::iota(bytes.begin(), bytes.end(), 1);
    ASSERT_EQ(buffer.Write(bytes.data(), 30), 1);
    uint8_t out[100] = {};
    EXPECT_EQ(buffer.Read(out, 10), 10u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[9], 10);
    EXPECT_EQ(buffer.GetFill(), 20u);
    EXPECT_EQ(buffer.Read(out, 100), 20u);
    EXPECT_EQ(out[0], 11);
    EXPECT_EQ(out[19], 30);
    EXPECT_EQ(buffer.GetFill(), 0u);
    EXPECT_EQ(buffer.Read(out, 100), 0u) << "empty";
    ASSERT_EQ(buffer.Write(bytes.data(), 5), 1);
    EXPECT_EQ(buffer.Read(nullptr, 5), 0u);
    EXPECT_EQ(buffer.Read(out, 0), 0u);
    EXPECT_EQ(buffer.GetFill(), 5u);
}

TEST(DelayBufferTest, FillPercentCountsOneFrameAheadAndStopsAtHundred) {
    CDelayBuffer buffer;
    EXPECT_EQ(buffer.GetFillPercent(), 0u) << "no block";
    ASSERT_EQ(buffer.Allocate(1000, 144), 1);
    EXPECT_EQ(buffer.GetFillPercent(), 0u) << "empty, though frame bytes are set";
    std::vector<uint8_t> bytes(1000, 0xAA);
    ASSERT_EQ(buffer.Write(bytes.data(), 56), 1);
    EXPECT_EQ(buffer.GetFillPercent(), 20u);
    ASSERT_EQ(buffer.Write(bytes.data(), 944), 1);
    EXPECT_EQ(buffer.GetFillPercent(), 100u);

    // Large blocks: (fill + frame) x 100 must not wrap in 32 bits.
    CDelayBuffer big;
    ASSERT_EQ(big.Allocate(50000000, 0), 1);
    std::vector<uint8_t> chunk(45000000);
    ASSERT_EQ(big.Write(chunk.data(), static_cast<uint32_t>(chunk.size())), 1);
    EXPECT_EQ(big.GetFillPercent(), 90u);
}

TEST(DelayBufferTest, AllocateKeepsASameSizedBlockAndEmptiesIt) {
    CDelayBuffer buffer;
    uint8_t out[8];
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(buffer.Write(data, 4), 0) << "no block yet";
    EXPECT_EQ(buffer.Read(out, 4), 0u);
    EXPECT_EQ(buffer.GetFreeSpace(), 0u);
    ASSERT_EQ(buffer.Allocate(8, 2), 1);
    ASSERT_EQ(buffer.Write(data, 4), 1);
    ASSERT_EQ(buffer.Allocate(8, 3), 1);
    EXPECT_EQ(buffer.GetFill(), 0u);
    EXPECT_EQ(buffer.GetFrameBytes(), 3u);
    ASSERT_EQ(buffer.Allocate(16, 3), 1);
    EXPECT_EQ(buffer.GetCapacity(), 16u);
    EXPECT_EQ(buffer.GetFreeSpace(), 16u);

    ASSERT_EQ(buffer.Allocate(0, 3), 1);
    EXPECT_EQ(buffer.Write(data, 1), 0) << "a zero-sized buffer holds nothing";
    EXPECT_EQ(buffer.GetFillPercent(), 0u);
}
