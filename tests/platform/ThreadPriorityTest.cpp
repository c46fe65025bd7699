#include <gtest/gtest.h>

#include <thread>

#include "platform/ThreadPriority.h"

// Whatever the system grants, the calls succeed and the thread can always
// come back to normal; only foreign handles and unknown levels are refused.
TEST(ThreadPriorityTest, TimeCriticalAndBackOnAnyMachine) {
    std::thread worker([] {
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_TIME_CRITICAL);
        const bool granted = IsThreadRealTime();
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
        EXPECT_FALSE(IsThreadRealTime());
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
        EXPECT_FALSE(IsThreadRealTime());
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
        RecordProperty("real_time_granted", granted ? 1 : 0);
    });
    worker.join();
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 3));
    EXPECT_FALSE(SetThreadPriority(GetCurrentProcess(), THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL) << "per thread";
}

TEST(ThreadPriorityTest, PriorityClassIsRecordedEvenWhenNotGranted) {
    EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), HIGH_PRIORITY_CLASS);
    EXPECT_TRUE(SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), NORMAL_PRIORITY_CLASS);
    EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x12345));
    EXPECT_FALSE(SetPriorityClass(GetCurrentThread(), NORMAL_PRIORITY_CLASS));
}
