// The guard through a call's states on the worker's own thread: priority up
// while audio runs, power switches off while connected and back as found.
#include "call/PowerPriorityGuard.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/Codes.h"
#include "platform/ProcessInfo.h"
#include "platform/ThreadPriority.h"

namespace {

int Switch(UINT action) {
    int v = -1;
    SystemParametersInfoA(action, 0, &v, 0);
    return v;
}

TEST(PowerPriorityGuard, CallRaisesPriorityAndTurnsPowerSavingOffThenRestores) {
    std::thread worker([] {
        SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, 0);  // the operator had it off
        SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 1, nullptr, 0);
        SystemParametersInfoA(SPI_SETLOWPOWERACTIVE, 1, nullptr, 0);
        CPowerPriorityGuard guard;
        guard.Save();
        guard.Apply(CALL_CONNECTING);  // no rule: nothing changes
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
        guard.Apply(CALL_LINK_UP);
        EXPECT_EQ(Switch(SPI_GETPOWEROFFACTIVE), 0);
        EXPECT_EQ(Switch(SPI_GETLOWPOWERACTIVE), 0);
        EXPECT_EQ(Switch(SPI_GETSCREENSAVEACTIVE), 0);
        guard.Apply(CALL_CONNECTED);
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_TIME_CRITICAL);
        EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), HIGH_PRIORITY_CLASS);
        guard.Apply(CALL_IDLE);
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
        EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), NORMAL_PRIORITY_CLASS);
        EXPECT_EQ(Switch(SPI_GETPOWEROFFACTIVE), 1);
        EXPECT_EQ(Switch(SPI_GETLOWPOWERACTIVE), 1);
        EXPECT_EQ(Switch(SPI_GETSCREENSAVEACTIVE), 0);
    });
    worker.join();
}

}  // namespace
