#include "common/Stopwatch.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"

TEST(StopwatchTest, PeriodZeroExpiresAtFirstCheck) {
    CSimClock clock(1000);
    CStopwatch watch;
    watch.Start(0);
    clock.AdvanceMs(7);
    EXPECT_EQ(watch.IsExpired(), 1);
    EXPECT_EQ(watch.GetElapsed(), 7u);
}

TEST(StopwatchTest, DeadlinePastTheWrap) {
    CSimClock clock(0xFFFFFFFFu - 255);  // 256 ms before the wrap
    CStopwatch watch;
    watch.Start(512);
    clock.SetMs(0xFFFFFFFFu - 15);
    EXPECT_EQ(watch.IsExpired(), 0);
    clock.SetMs(80);
    EXPECT_EQ(watch.IsExpired(), 0);
    clock.SetMs(288);
    EXPECT_EQ(watch.IsExpired(), 1);
    EXPECT_EQ(watch.GetElapsed(), 544u);
    EXPECT_EQ(watch.IsExpired(), 1);  // stays expired until restarted
}

TEST(StopwatchTest, StoppedNeverExpires) {
    CSimClock clock(10);
    CStopwatch watch;
    EXPECT_EQ(watch.IsExpired(), 0);
    watch.Start(5);
    watch.Stop();
    clock.AdvanceMs(100);
    EXPECT_EQ(watch.IsExpired(), 0);
    EXPECT_EQ(watch.IsRunning(), 0);
}

TEST(StopwatchTest, LateCheckAfterTheClockWrappedStillExpires) {
    CSimClock clock(0xFFFFFFFFu - 99);  // 100 ms before the wrap
    CStopwatch watch;
    watch.Start(50);  // deadline before the wrap
    clock.SetMs(0xFFFFFFFFu - 60);
    EXPECT_EQ(watch.IsExpired(), 0);
    clock.SetMs(20);  // first look only after the wrap
    EXPECT_EQ(watch.IsExpired(), 1);
    EXPECT_EQ(watch.GetElapsed(), 120u);
}
