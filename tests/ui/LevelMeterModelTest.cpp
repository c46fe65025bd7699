#include "ui/LevelMeterModel.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"

namespace {

// The pages' meter: 34 segments of 6 x 2 every 3 pixels, bars 23 apart.
struct LevelMeterModelTest : ::testing::Test {
    CSimClock m_clock;
    CLevelMeterModel m_meter{[this] { return m_clock.NowMs(); }};
    void SetUp() override {
        m_clock.AdvanceMs(1000);  // a hold start of 0 means "none"
        m_meter.SetSegmentGeometry(6, 2, 0, 3);
        m_meter.SetZones(22, 8, 3, 1);
        m_meter.SetBarLayout(23, 0, 4);
        m_meter.SetRange(0, 32767, 1.0);
        ASSERT_TRUE(m_meter.Create(4, 2));
        m_meter.SetActive(true);
    }
    int LitByLevel(int bar) const {
        int n = 0;
        for (int j = 0; j < m_meter.Segments(); ++j) n += m_meter.Segment(bar, j).threshold < m_meter.Level(bar);
        return n;
    }
    int Lit(int bar) const {
        int n = 0;
        for (int j = 0; j < m_meter.Segments(); ++j) n += m_meter.Segment(bar, j).lit;
        return n;
    }
};

TEST_F(LevelMeterModelTest, LayoutZonesAndThresholds) {
    ASSERT_EQ(m_meter.Segments(), 34);
    EXPECT_EQ(m_meter.Segment(0, 33).threshold, 32767);
    EXPECT_EQ(m_meter.Segment(0, 0).threshold, 733);
    EXPECT_EQ(m_meter.Segment(0, 21).zone, 1);
    EXPECT_EQ(m_meter.Segment(0, 22).zone, 2);
    EXPECT_EQ(m_meter.Segment(0, 29).zone, 2);
    EXPECT_EQ(m_meter.Segment(0, 30).zone, 3);
    EXPECT_EQ(m_meter.Segment(0, 32).zone, 3);
    EXPECT_EQ(m_meter.Segment(0, 33).zone, 4);
    // Full scale at the top, segments growing downwards every 3 pixels.
    EXPECT_EQ(m_meter.Segment(0, 33).y, 5);
    EXPECT_EQ(m_meter.Segment(0, 0).y, 2 + 34 * 3);
    for (int j = 1; j < 34; ++j) EXPECT_GT(m_meter.Segment(0, j - 1).threshold, 0);
    // Bars in pairs: 23 apart, a pair 5 pixels further.
    EXPECT_EQ(m_meter.Segment(1, 0).x - m_meter.Segment(0, 0).x, 23);
    EXPECT_EQ(m_meter.Segment(2, 0).x - m_meter.Segment(1, 0).x, 23 + 5);
    // Scale labels every 6 dB.
    int labels = 0;
    for (int j = 0; j < 34; ++j) labels += m_meter.HasScaleLabel(j);
    EXPECT_EQ(labels, 6);
    EXPECT_TRUE(m_meter.HasScaleLabel(33));
    EXPECT_TRUE(m_meter.HasScaleLabel(3));
}

TEST_F(LevelMeterModelTest, LevelsLightTheSegmentsBelowThem) {
    const struct {
        int level, lit;
    } cases[] = {{0, 0}, {733, 0}, {734, 1}, {32767, 33}, {32768, 34}, {-5, 0}};
    for (const auto& c : cases) {
        m_meter.SetLevel(0, c.level, true);
        EXPECT_EQ(LitByLevel(0), c.lit) << c.level;
    }
}

// A level of 0 is silence: nothing lights, not even a peak marker.
TEST_F(LevelMeterModelTest, SilenceLightsNothing) {
    m_meter.SetLevel(0, 0, true);
    EXPECT_EQ(Lit(0), 0);
    EXPECT_EQ(m_meter.Peak(0), 0);
    m_meter.SetLevel(0, 734, true);
    EXPECT_EQ(Lit(0), 2);  // segment 0 and the marker just above it
    EXPECT_TRUE(m_meter.Segment(0, 1).lit);
}

TEST_F(LevelMeterModelTest, PeakHoldsHalfASecondThenFallsOneSegmentPer50Ms) {
    m_meter.SetLevel(0, 20000, true);
    const int peak = m_meter.Peak(0);
    EXPECT_EQ(peak, LitByLevel(0));  // the segment just above the highest lit one
    EXPECT_TRUE(m_meter.Segment(0, peak).lit);
    for (int t = 0; t < 500; t += 30) {
        m_clock.AdvanceMs(30);
        m_meter.SetLevel(0, 0, true);
        EXPECT_EQ(m_meter.Peak(0), peak) << t;
    }
    m_clock.AdvanceMs(30);  // 510 ms: the hold ends, the fall starts
    m_meter.SetLevel(0, 0, true);
    EXPECT_EQ(m_meter.Peak(0), peak);
    m_clock.AdvanceMs(51);
    m_meter.SetLevel(0, 0, true);
    EXPECT_EQ(m_meter.Peak(0), peak - 1);
    EXPECT_TRUE(m_meter.Segment(0, peak - 1).lit);
    EXPECT_FALSE(m_meter.Segment(0, peak).lit);
    // A new level that reaches the marker holds it again.
    m_meter.SetLevel(0, 20000, true);
    EXPECT_EQ(m_meter.Peak(0), peak);
    // All the way down, the marker goes out.
    for (int i = 0; i < 100; ++i) {
        m_clock.AdvanceMs(51);
        m_meter.SetLevel(0, 0, true);
    }
    EXPECT_EQ(m_meter.Peak(0), 0);
    EXPECT_EQ(Lit(0), 0);
}

TEST_F(LevelMeterModelTest, FullScaleKeepsTheStoredPeak) {
    m_meter.SetLevel(0, 10000, true);
    const int peak = m_meter.Peak(0);
    m_meter.SetLevel(0, 32768, true);
    EXPECT_EQ(m_meter.Peak(0), peak);
    EXPECT_EQ(Lit(0), 34);
}

TEST_F(LevelMeterModelTest, BarsOutOfRangeAndActivation) {
    EXPECT_FALSE(m_meter.SetLevel(4, 20000, true));
    EXPECT_FALSE(m_meter.SetLevel(-1, 20000, true));
    EXPECT_TRUE(m_meter.SetLevel(3, 20000, true));
    EXPECT_FALSE(m_meter.SetLevel(3, 20000, false));
    const int peak = m_meter.Peak(3);
    EXPECT_FALSE(m_meter.SetActive(true));  // twice: the peaks stay
    EXPECT_EQ(m_meter.Peak(3), peak);
    EXPECT_TRUE(m_meter.SetActive(false));
    EXPECT_EQ(m_meter.Peak(3), 0);
    EXPECT_EQ(Lit(3), 0);
    EXPECT_FALSE(m_meter.SetLevel(3, 20000, true));  // inactive: no repaint
    EXPECT_FALSE(m_meter.ShownLit(3, 0));
    CLevelMeterModel empty([] { return 0u; });
    EXPECT_FALSE(empty.Create(0, 0));
    EXPECT_FALSE(empty.SetLevel(0, 100, true));
}

TEST_F(LevelMeterModelTest, OnlyChangedSegmentsNeedFilling) {
    auto fills = [this] {
        int n = 0;
        for (int b = 0; b < m_meter.Bars(); ++b) {
            for (int j = 0; j < m_meter.Segments(); ++j) {
                if (m_meter.NeedsFill(b, j)) {
                    m_meter.MarkDrawn(b, j);
                    ++n;
                }
            }
        }
        m_meter.EndPaint();
        return n;
    };
    EXPECT_EQ(fills(), 4 * 34);  // the first paint draws everything
    EXPECT_EQ(fills(), 0);
    m_meter.SetLevel(0, 734, true);
    EXPECT_EQ(fills(), 2);
    m_meter.SetLevel(0, 734, true);
    EXPECT_EQ(fills(), 0);
    m_meter.RequestFullRedraw();
    EXPECT_EQ(fills(), 4 * 34);
}

TEST(LevelMeterModelTwoBars, MulticastMeterHasOnePairAndOneScale) {
    CSimClock clock;
    CLevelMeterModel meter([&] { return clock.NowMs(); });
    meter.SetSegmentGeometry(6, 2, 0, 3);
    meter.SetZones(22, 8, 3, 1);
    meter.SetBarLayout(23, 0, 2);
    meter.SetRange(0, 32767, 1.0);
    ASSERT_TRUE(meter.Create(8, 3));
    EXPECT_EQ(meter.Bars(), 2);
    EXPECT_EQ(meter.Segment(0, 0).x, 8);
    EXPECT_EQ(meter.Segment(1, 0).x, 31);
}

}  // namespace
