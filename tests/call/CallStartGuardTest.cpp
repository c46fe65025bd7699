#include "call/CallStartGuard.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"

TEST(CallStartGuardTest, ExpiresOnceAfterTheBoundUnlessDisarmedOrRearmed) {
    CSimClock clock(0xFFFF0000u);  // the bound runs across the clock's wrap
    CCallStartGuard guard;
    EXPECT_FALSE(guard.TakeExpiry());  // never armed
    guard.Arm();
    clock.AdvanceMs(kCallStartTimeoutMs - 1);
    EXPECT_FALSE(guard.TakeExpiry());
    clock.AdvanceMs(1);
    EXPECT_TRUE(guard.TakeExpiry());
    EXPECT_FALSE(guard.TakeExpiry());  // reported once
    EXPECT_FALSE(guard.IsArmed());

    guard.Arm();
    clock.AdvanceMs(kCallStartTimeoutMs / 2);
    guard.Arm();  // a check the operator restarted gets the whole bound again
    clock.AdvanceMs(kCallStartTimeoutMs - 1);
    EXPECT_FALSE(guard.TakeExpiry());
    guard.Disarm();  // audio flows
    clock.AdvanceMs(10 * kCallStartTimeoutMs);
    EXPECT_FALSE(guard.TakeExpiry());
}
