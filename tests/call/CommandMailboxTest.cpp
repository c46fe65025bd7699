// The one-slot mailbox on the simulated clock: a code goes in at once when
// the slot is empty, a busy slot gives up after the time-out, a stopped
// worker refuses at once.
#include "call/CommandMailbox.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"

namespace {

TEST(CommandMailbox, SlotTakesOneCodeAtATime) {
    CSimClock clock(1000);
    std::atomic<int> stopped{0};
    CCommandMailbox box;
    EXPECT_EQ(box.Peek(), 0);
    EXPECT_EQ(box.Post(11, 2000, stopped), 1);
    EXPECT_EQ(clock.NowMs(), 1000u);
    EXPECT_EQ(box.Peek(), 11);
    // Busy: the post waits out its time on the engine's clock, then fails.
    EXPECT_EQ(box.Post(12, 2000, stopped), 0);
    EXPECT_GE(clock.NowMs(), 3000u);
    EXPECT_LT(clock.NowMs(), 3100u);
    EXPECT_EQ(box.Peek(), 11);
    box.Done();
    EXPECT_EQ(box.Post(12, 2000, stopped), 1);
    EXPECT_EQ(box.Peek(), 12);
    // No worker will ever empty the slot: refused without waiting.
    stopped.store(1);
    const uint32_t before = clock.NowMs();
    EXPECT_EQ(box.Post(13, 2000, stopped), 0);
    EXPECT_EQ(clock.NowMs(), before);
    box.Reset();
    EXPECT_EQ(box.Post(13, 2000, stopped), 1);
}

}  // namespace
