#include <gtest/gtest.h>

#include <cstdint>

#include "mp3enc/l3core/wrappers/enc/l3/encifc/TimeStamp.h"

TEST(TimeStamp, CountsNinetyKilohertzTicksLeastSignificantByteFirst) {
    TimeStamp* stamp = CreateTimeStamp();
    ASSERT_NE(stamp, nullptr);
    uint8_t bytes[8] = {};
    TimeStampCopy(stamp, bytes);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[1], 2);
    EXPECT_EQ(bytes[2], 0);

    TimeStampAdvance(stamp, 90000, 90000.0f);
    TimeStampCopy(stamp, bytes);
    const uint8_t oneSecond[7] = {3, 2, 0x90, 0x5F, 0x01, 0x00, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(bytes[i], oneSecond[i]) << i;
    EXPECT_DOUBLE_EQ(stamp->seconds, 1.0);

    // Past 2^32 ticks (about 13.25 hours) bit 32 moves to byte 6.
    stamp->seconds = 4294967296.0 / 90000.0;
    TimeStampAdvance(stamp, 0, 48000.0f);
    TimeStampCopy(stamp, bytes);
    EXPECT_EQ(bytes[6], 1);
    EXPECT_EQ(bytes[2] | bytes[3] | bytes[4] | bytes[5], 0);

    TimeStampAdvance(stamp, 576, 0.0f);  // a rate of 0 changes nothing
    EXPECT_DOUBLE_EQ(stamp->seconds, 4294967296.0 / 90000.0);
    TimeStampFree(stamp);
    TimeStampFree(nullptr);
}
