#include "ui/CpuLoad.h"

#include <gtest/gtest.h>

namespace {

TEST(CpuLoadTest, ShareOfBusyTimeBetweenTwoSamples) {
    CCpuLoad load;
    EXPECT_EQ(load.Sample("cpu  100 0 100 800 0 0 0 0 0 0\ncpu0 1 2 3 4\n"), 0);  // first look
    EXPECT_EQ(load.Sample("cpu  150 0 150 900 0 0 0 0 0 0\n"), 50);
    EXPECT_EQ(load.Sample("cpu  150 0 150 1000 100 0 0 0 0 0\n"), 0);  // waiting for I/O is idle
    EXPECT_EQ(load.Sample("cpu  150 0 150 1000 100 0 0 0 0 0\n"), 0);  // no time passed
    EXPECT_EQ(load.Sample("cpu  250 0 150 1000 100 0 0 0 0 0\n"), 100);
    EXPECT_EQ(load.Sample("cpu  10 0 10 10 0\n"), 0);  // counters reset
}

TEST(CpuLoadTest, UnusableTextsAreRefused) {
    CCpuLoad load;
    EXPECT_EQ(load.Sample(""), -1);
    EXPECT_EQ(load.Sample("intr 1 2 3"), -1);
    EXPECT_EQ(load.Sample("cpu  1 2"), -1);
    EXPECT_EQ(load.Sample("cpu  1 x 3 4"), -1);
    EXPECT_EQ(load.Sample("cpu  99999999999999999999999 1 1 1"), -1);
    const int system = load.SampleSystem();
    EXPECT_GE(system, 0);
    EXPECT_LE(system, 100);
}

}  // namespace
