#include "common/Color.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ColorTest, LightenMovesEachChannelTowardsWhite) {
    EXPECT_EQ(LightenColor(0x000000, 50.0), 0x7F7F7Fu);
    EXPECT_EQ(LightenColor(0x123456, 0.0), 0x123456u);
    EXPECT_EQ(LightenColor(0x123456, 100.0), 0xFFFFFFu);
    // Channels keep their places: red low, then green, then blue.
    EXPECT_EQ(LightenColor(0x0000FF, 50.0), 0x7F7FFFu);
    EXPECT_EQ(LightenColor(0xFF0000, 10.0), 0xFF1919u);
    // Out of range: no channel spills into the next.
    EXPECT_EQ(LightenColor(0x808080, 250.0), 0xFFFFFFu);
    EXPECT_EQ(LightenColor(0x808080, -30.0), 0x808080u);
    EXPECT_EQ(LightenColor(0x808080, std::nan("")), 0x808080u);
}
