#include <gtest/gtest.h>

#include <cstdint>

#include "common/GlobalBuffer.h"

TEST(GlobalBufferTest, BlocksAreZeroedAlignedAndDistinct) {
    auto* a = static_cast<uint8_t*>(AllocGlobalBuffer(4096));
    auto* b = static_cast<uint8_t*>(AllocGlobalBuffer(0));
    auto* c = static_cast<uint8_t*>(AllocGlobalBuffer(0));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr) << "a zero-length block is still a usable address";
    ASSERT_NE(c, nullptr);
    EXPECT_NE(b, c);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(a[i], 0) << i;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    a[4095] = 1;  // the whole block is ours (the sanitizers watch the edges)
    FreeGlobalBuffer(a);
    FreeGlobalBuffer(b);
    FreeGlobalBuffer(c);
    FreeGlobalBuffer(nullptr);
    EXPECT_EQ(AllocGlobalBuffer(static_cast<unsigned long>(-1)), nullptr);
}
