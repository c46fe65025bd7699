#include <gtest/gtest.h>

#include <vector>

#include "mp3enc/l3core/core/psych/FloatRing.h"

TEST(FloatRing, ReadsLookBackAndWrapWithoutMovingData) {
    FloatRing* r = CreateFloatModuleBuffer(1728);
    ASSERT_NE(r, nullptr);
    std::vector<float> ramp(1728);
    for (int i = 0; i < 1728; ++i) ramp[i] = static_cast<float>(i);
    FloatRingWrite(r, ramp.data(), 1728);
    FloatRingWrite(r, ramp.data(), 1000);  // write position 1000, data in place
    EXPECT_EQ(r->writePosition, 1000);
    std::vector<float> out(1024);
    ASSERT_EQ(FloatRingRead(r, out.data(), 1024, 1264), 1);
    EXPECT_EQ(out[0], 1464.0f);  // starts at index 1464
    EXPECT_EQ(out[263], 1727.0f);
    EXPECT_EQ(out[264], 0.0f);  // wrapped after 264 values
    EXPECT_EQ(out[1023], 759.0f);
    FloatRingWriteZeros(r, 800);
    ASSERT_EQ(FloatRingRead(r, out.data(), 1, 1), 1);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(r->writePosition, 72);
    // Beyond the ring: refused, nothing read.
    out[0] = 7.0f;
    EXPECT_EQ(FloatRingRead(r, out.data(), 10, 1729), 0);
    EXPECT_EQ(FloatRingRead(r, out.data(), 1729, 10), 0);
    EXPECT_EQ(out[0], 7.0f);
    // A write longer than the ring keeps its last values.
    std::vector<float> big(2000);
    for (int i = 0; i < 2000; ++i) big[i] = static_cast<float>(-i);
    FloatRingWrite(r, big.data(), 2000);
    ASSERT_EQ(FloatRingRead(r, out.data(), 3, 3), 1);
    EXPECT_EQ(out[2], -1999.0f);
    EXPECT_EQ(out[0], -1997.0f);
    DeleteFloatModuleBuffer(r);
    DeleteFloatModuleBuffer(nullptr);
    EXPECT_EQ(CreateFloatModuleBuffer(0), nullptr);
}
