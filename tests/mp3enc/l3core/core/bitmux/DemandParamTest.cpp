#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "mp3enc/l3core/core/bitmux/DemandParam.h"

namespace {

constexpr float kLong[11] = {0, 1000, 3000, 0.25f, 0.9f, 0.05f, 0.25f, 0.2f, 0.9f, -0.1f, 0.4f};
constexpr float kShort[11] = {0, 2000, 6000, 0.02f, 0.35f, -0.2f, 0.03f, 0.02f, 0.6f, -0.01f, 1.3f};

// The mapping as a reader of its description writes it.
double Factor(const DemandParam& s, int pe, int fill, int limit) {
    const double r = static_cast<double>(fill) / limit;
    const double t1 = (std::clamp<double>(r, s.p3, s.p4) - s.p3) / (s.p4 - s.p3);
    const double t2 = (std::clamp<double>(r, s.p7, s.p8) - s.p7) / (s.p8 - s.p7);
    const double f1 = s.p6 - (s.p6 - s.p5) * t1;
    const double f2 = s.minBitSp + (s.maxBitSp - s.minBitSp) * t2;
    return (f1 + f2) * (std::clamp(pe, s.peMin, s.peMax) - s.peMin) / (s.peMax - s.peMin) - f1;
}

}  // namespace

TEST(DemandParam, FactorFollowsFillAndEntropyAndAdaptsBothRanges) {
    for (int fill : {0, 400, 1000, 2000, 3000, 4088})
        for (int pe : {0, 1000, 1500, 2999, 5000}) {
            DemandParam l = DemandParamFromRecord(kLong), s = DemandParamFromRecord(kShort);
            const DemandParam before = l;
            EXPECT_NEAR(DemandFactor(&l, &s, 0, pe, fill, 4088), Factor(before, pe, fill, 4088), 1e-5)
                << "fill " << fill << " pe " << pe;
        }
    // At or below peMin a granule gives up f1; at or above peMax it takes f2.
    DemandParam l = DemandParamFromRecord(kLong), s = DemandParamFromRecord(kShort);
    EXPECT_NEAR(DemandFactor(&l, &s, 0, 0, 0, 4088), -0.25, 1e-6);  // empty reservoir: f1 = p6
    l = DemandParamFromRecord(kLong);
    EXPECT_NEAR(DemandFactor(&l, &s, 3, 99999, 4088, 4088), 0.4, 1e-6);  // full: f2 = maxBitSp
    // Short and mixed blocks use the short set.
    l = DemandParamFromRecord(kLong);
    s = DemandParamFromRecord(kShort);
    const DemandParam shortBefore = s;
    EXPECT_NEAR(DemandFactor(&l, &s, 5, 4000, 1000, 4088), Factor(shortBefore, 4000, 1000, 4088), 1e-5);
    // Unknown block types and an empty limit give 0 and adapt nothing.
    l = DemandParamFromRecord(kLong);
    EXPECT_EQ(DemandFactor(&l, &s, 7, 4000, 1000, 4088), 0.0f);
    EXPECT_EQ(DemandFactor(&l, &s, 0, 4000, 1000, 0), 0.0f);
    EXPECT_EQ(l.peMin, 1000);
    EXPECT_EQ(l.peMax, 3000);
}

TEST(DemandParam, RangeAdaptationFollowsTheEntropyWithinItsLimits) {
    DemandParam l = DemandParamFromRecord(kLong);
    // mid 2000, half 1000; pe 2600: dev 600, g 0.018, m 0.068, t = 1000 +
    // 0.068 x (600 - 1000) = 972.8 -> at most trunc(0.05 x 4088) = 204;
    // K = 2000 + 0.068 x 600 = 2040.8; M = 204.
    AdaptPeRange(&l, 2600, 1.0f, 4088);
    EXPECT_EQ(l.peMin, 1837);
    EXPECT_EQ(l.peMax, 2245);
    // The weight slows the move.
    DemandParam w = DemandParamFromRecord(kLong);
    AdaptPeRange(&w, 2600, 0.6f, 4088);
    EXPECT_LT(w.peMin + w.peMax, l.peMin + l.peMax);
    EXPECT_GT(w.peMin + w.peMax, 4000);
}

TEST(DemandParam, AnEmptyRangeNeverDividesByZero) {
    const float zero[11] = {0, 0, 0, 0.25f, 0.9f, 0.05f, 0.25f, 0.2f, 0.9f, -0.1f, 0.4f};
    DemandParam l = DemandParamFromRecord(zero), s = DemandParamFromRecord(zero);
    float f = DemandFactor(&l, &s, 0, 800, 2000, 4088);
    EXPECT_TRUE(std::isfinite(f));
    EXPECT_GE(l.peMax, l.peMin);
    for (int n = 0; n < 200; ++n) {
        f = DemandFactor(&l, &s, n % 4 == 0 ? 2 : 0, 700 + (n * 37) % 400, 2000, 4088);
        ASSERT_TRUE(std::isfinite(f)) << n;
        ASSERT_GE(l.peMax, l.peMin);
        ASSERT_GE(f, -0.25f - 1e-6f);
        ASSERT_LE(f, 0.4f + 1e-6f);
    }
    EXPECT_GT(l.peMax, l.peMin);  // the range opened around the entropies seen
    EXPECT_GT(l.peMin, 0);
}
