// The delay measurement between two stations played out on plain numbers:
// each side's clock, the frame bounced back and forth, the end of the count.
#include "call/DelayMeasurement.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Bounces a frame between caller and answerer with fixed one-way delays
// until the measurement ends on both sides; returns the exchanges.
int Bounce(uint32_t callerToAnswerer, uint32_t answererToCaller, bool timeUpAfter15, DelayStep* callerEnd,
           DelayStep* answererEnd) {
    uint32_t now = 100000;
    DelayFrame frame;
    frame.callerTime = static_cast<int32_t>(now);
    int exchanges = 0;
    for (int guard = 0; guard < 200; ++guard) {
        now += callerToAnswerer;
        const DelayStep a = AdvanceDelayFrame(frame, now, true, false);
        if (a.finished) {
            *answererEnd = a;
            return exchanges;
        }
        EXPECT_TRUE(a.reply);
        now += answererToCaller;
        ++exchanges;
        const DelayStep c = AdvanceDelayFrame(frame, now, false, timeUpAfter15);
        EXPECT_TRUE(c.reply);
        if (c.finished) *callerEnd = c;
    }
    ADD_FAILURE() << "no end";
    return exchanges;
}

TEST(DelayMeasurement, RoundTripsFromTheEleventhExchangeEndAfterFifty) {
    DelayStep caller, answerer;
    EXPECT_EQ(Bounce(20, 30, false, &caller, &answerer), 51);
    EXPECT_TRUE(caller.finished);
    EXPECT_TRUE(answerer.finished);
    // The caller times 50 ms round trips; the answerer's are 50 ms too.
    EXPECT_EQ(caller.maxMs, 50u);
    EXPECT_EQ(caller.minMs, 50u);
    EXPECT_EQ(answerer.maxMs, caller.maxMs);
    EXPECT_EQ(answerer.minMs, caller.minMs);
}

TEST(DelayMeasurement, TimeUpEndsAfterSixteenExchanges) {
    DelayStep caller, answerer;
    EXPECT_EQ(Bounce(5, 5, true, &caller, &answerer), 16);
    EXPECT_EQ(caller.maxMs, 10u);
}

TEST(DelayMeasurement, WidestAndNarrowestRoundTripsAreKept) {
    DelayFrame frame;
    frame.exchangeCount = 11;
    frame.callerTime = 1000;
    DelayStep s = AdvanceDelayFrame(frame, 1080, false, false);
    EXPECT_EQ(frame.maxMs, 80);
    EXPECT_EQ(frame.minMs, 80);
    EXPECT_FALSE(s.finished);
    frame.callerTime = 2000;
    AdvanceDelayFrame(frame, 2030, false, false);
    frame.callerTime = 3000;
    AdvanceDelayFrame(frame, 3200, false, false);
    EXPECT_EQ(frame.maxMs, 200);
    EXPECT_EQ(frame.minMs, 30);
    // A clock that wrapped between the two times still gives the round trip.
    frame.callerTime = static_cast<int32_t>(0xFFFFFFF0u);
    AdvanceDelayFrame(frame, 0x00000010u, false, false);
    EXPECT_EQ(frame.minMs, 30);
    EXPECT_EQ(frame.maxMs, 200);
}

TEST(DelayMeasurement, BitRates) {
    EXPECT_EQ(BitRateOf(64000, 1000), 64000);
    EXPECT_EQ(BitRateOf(0, 1000), 0);
    EXPECT_EQ(BitRateOf(-8, 1000), 0);
    EXPECT_EQ(BitRateOf(8000, 0), 8000000);  // a period that just began
    EXPECT_EQ(BitRateOf(INT64_MAX / 2000, 1), INT32_MAX);
}

}  // namespace
