#include "mp3enc/l3core/core/psych/IsPosition.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Right-to-left level in dB that a decoder gives a position: MPEG-1 splits by
// tan(p pi / 12); the lower rates (intensity_scale 0) attenuate the quieter
// side by 2^(-1/4) per step, the right one for even positions.
double DecodedRightToLeftDb(int rateClass, int p) {
    if (rateClass == 0) return -20.0 * std::log10(std::tan(p * M_PI / 12.0));
    const double step = 20.0 * std::log10(std::pow(2.0, -0.25));
    return p % 2 == 0 ? step * (p / 2) : -step * ((p + 1) / 2);
}

}  // namespace

// Over levels the positions can express, the decoded level ratio stays within
// half a step (MPEG-1 rounds; 4.8 dB steps near the centre) or a step (the
// lower rates truncate; 1.5 dB steps) of the band's own, either way.
TEST(IsPosition, DecodedLevelRatioFollowsTheBandsOwn) {
    for (int rateClass : {0, 1}) {
        const double tolerance = rateClass == 0 ? 2.5 : 1.6;
        for (double db = -4.4; db <= 4.4; db += 0.1) {
            const float right = static_cast<float>(std::pow(10.0, db / 10.0));
            const IsPosition p = IntensityPosition(rateClass, 1.0f, right, 4.0f);
            EXPECT_NEAR(DecodedRightToLeftDb(rateClass, p.position), db, tolerance) << rateClass << " " << db;
        }
    }
}

TEST(IsPosition, Mpeg1PositionsKeepEveryBandAudibleOnBothSides) {
    // y = sqrt(left / right): just above 0.03 is 1, not 0; below 33 never 6.
    EXPECT_EQ(IntensityPosition(0, 0.0301f * 0.0301f, 1.0f, 1.0f).position, 1);
    EXPECT_EQ(IntensityPosition(0, 0.0f, 1.0f, 1.0f).position, 0);
    EXPECT_EQ(IntensityPosition(0, 32.9f * 32.9f, 1.0f, 1.0f).position, 5);
    EXPECT_EQ(IntensityPosition(0, 1.0f, 0.0f, 1.0f).position, 6);
    EXPECT_EQ(IntensityPosition(0, 1.0f, 1.0f, 4.0f).position, 3);
    // In phase, equal: the sum already carries the level.
    EXPECT_FLOAT_EQ(IntensityPosition(0, 1.0f, 1.0f, 4.0f).factor, 1.0f);
    EXPECT_FLOAT_EQ(UnmergedFactor(0, 4.0f, 1.0f), 1.5f);
}

TEST(IsPosition, LowerRatePositionsStopAtTheirLargestStep) {
    EXPECT_EQ(IntensityPosition(1, 1.0f, 1.0f, 4.0f).position, 0);
    EXPECT_EQ(IntensityPosition(1, 2.0f, 1.0f, 4.0f).position, 4);   // 3 dB: two steps of the right side
    EXPECT_EQ(IntensityPosition(1, 1.0f, 2.0f, 4.0f).position, 3);   // the left side, odd
    EXPECT_EQ(IntensityPosition(2, 100.0f, 1.0f, 4.0f).position, 6);
    EXPECT_EQ(IntensityPosition(2, 1.0f, 100.0f, 4.0f).position, 5);
    EXPECT_EQ(IntensityPosition(1, 0.0f, 0.0f, 0.0f).position, 0);  // silence: no division by zero
    // The louder side keeps its level: sqrt(max / (2 mid)).
    EXPECT_FLOAT_EQ(IntensityPosition(1, 4.0f, 1.0f, 9.0f).factor, 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(UnmergedFactor(1, 1.0f, 4.0f), 2.0f);
    EXPECT_FLOAT_EQ(UnmergedFactor(1, 4.0f, 1.0f), 1.0f);
    EXPECT_TRUE(std::isfinite(UnmergedFactor(0, 0.0f, 1.0f)));
}
