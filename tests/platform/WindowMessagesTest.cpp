#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/MessageSink.h"

namespace {

struct Recorder : CMessageTarget {
    std::vector<MSG> got;
    std::thread::id lastThread;
    LRESULT reply = 0;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        MSG m;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        got.push_back(m);
        lastThread = std::this_thread::get_id();
        return reply;
    }
};

TEST(WindowMessagesTest, EightThreadsPostCompleteAndInOrderPerThread) {
    constexpr int kThreads = 8;
    constexpr int kPosts = 10000;
    CMessageQueue queue;
    Recorder target;
    HWND hwnd = CreateWindowHandle(queue, &target);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPosts; ++i) {
                if (!PostMessage(hwnd, WM_USER + 1, static_cast<WPARAM>(t), i)) ++failures;
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (target.got.size() < size_t{kThreads * kPosts} && std::chrono::steady_clock::now() < deadline) {
        if (queue.DispatchPending() == 0) std::this_thread::yield();
    }
    for (auto& th : threads) th.join();
    queue.DispatchPending();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(target.got.size(), size_t{kThreads * kPosts});
    std::vector<LPARAM> next(kThreads, 0);
    for (const MSG& m : target.got) {
        ASSERT_LT(m.wParam, size_t{kThreads});
        ASSERT_EQ(m.lParam, next[m.wParam]) << "thread " << m.wParam;
        ++next[m.wParam];
    }
    DestroyWindowHandle(hwnd);
}

TEST(WindowMessagesTest, DestroyedWindowRefusesPostsAndDropsWhatWaited) {
    CMessageQueue queue;
    Recorder target;
    HWND hwnd = CreateWindowHandle(queue, &target);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(PostMessage(hwnd, WM_USER + 2, 0, 0));
    EXPECT_TRUE(DestroyWindowHandle(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessage(hwnd, WM_USER + 2, 0, 0));
    EXPECT_EQ(SendMessage(hwnd, WM_USER + 2, 0, 0), 0);
    EXPECT_FALSE(DestroyWindowHandle(hwnd));
    EXPECT_EQ(queue.DispatchPending(), 0);
    EXPECT_TRUE(target.got.empty());
    // A new window never gets the old handle back.
    HWND again = CreateWindowHandle(queue, &target);
    EXPECT_NE(again, hwnd);
    EXPECT_FALSE(PostMessage(nullptr, WM_USER, 0, 0));
    EXPECT_FALSE(PostMessage(reinterpret_cast<HWND>(uintptr_t{12345}), WM_USER, 0, 0));
}

TEST(WindowMessagesTest, PostsFromAThreadRacingTheDestructionNeverCrash) {
    auto queue = std::make_unique<CMessageQueue>();
    Recorder target;
    HWND hwnd = CreateWindowHandle(*queue, &target);
    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::thread poster([&] {
        while (!stop.load(std::memory_order_acquire)) {
            if (!PostMessage(hwnd, WM_USER, 0, 0)) ++refused;
            // A mutex is not fair: a poster that only yields can starve the destructor for minutes
            // on a loaded machine. A real gap leaves the lock free between posts.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    for (int i = 0; i < 50; ++i) queue->DispatchPending();
    queue.reset();  // the window goes with its queue
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (refused.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    stop.store(true, std::memory_order_release);
    poster.join();
    EXPECT_GT(refused.load(), 0);
}

TEST(WindowMessagesTest, SendRunsOnTheOwnerThreadAndReturnsItsResult) {
    CMessageQueue queue;
    Recorder target;
    target.reply = 77;
    HWND hwnd = CreateWindowHandle(queue, &target);
    // On the owner thread a send is a direct call.
    EXPECT_EQ(SendMessage(hwnd, WM_USER + 3, 1, 2), 77);
    ASSERT_EQ(target.got.size(), 1u);

    std::atomic<LRESULT> result{-1};
    std::thread sender([&] { result = SendMessage(hwnd, WM_USER + 4, 5, 6); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (target.got.size() < 2 && std::chrono::steady_clock::now() < deadline) queue.DispatchPending();
    sender.join();
    EXPECT_EQ(result.load(), 77);
    ASSERT_EQ(target.got.size(), 2u);
    EXPECT_EQ(target.got[1].message, WM_USER + 4);
    EXPECT_EQ(target.lastThread, std::this_thread::get_id());
}

TEST(WindowMessagesTest, SenderIsReleasedWhenTheWindowGoesAway) {
    CMessageQueue queue;
    Recorder target;
    target.reply = 5;
    HWND hwnd = CreateWindowHandle(queue, &target);
    std::atomic<bool> woke{false};
    std::atomic<int> wakes{0};
    queue.SetWakeHandler([&] { ++wakes; });
    std::atomic<LRESULT> result{-1};
    std::thread sender([&] {
        result = SendMessage(hwnd, WM_USER, 0, 0);
        woke = true;
    });
    while (wakes.load() == 0) std::this_thread::yield();  // the send is queued
    DestroyWindowHandle(hwnd);
    sender.join();
    EXPECT_TRUE(woke.load());
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(target.got.empty());
}

struct TimerTest : ::testing::Test {
    CSimClock m_clock{1000};
    CMessageQueue m_queue;
    Recorder m_target;
    HWND m_hwnd = CreateWindowHandle(m_queue, &m_target);

    int Timers(UINT_PTR id) {
        int n = 0;
        for (const MSG& m : m_target.got) n += (m.message == WM_TIMER && m.wParam == id);
        return n;
    }
    void Tick(uint32_t ms) {
        m_clock.AdvanceMs(ms);
        m_queue.ProcessTimers(timeGetTime());
        m_queue.DispatchPending();
    }
};

TEST_F(TimerTest, FiresIsReplacedAndIsKilled) {
    EXPECT_EQ(SetTimer(m_hwnd, 101, 100), 101u);
    EXPECT_EQ(m_queue.NextTimerDueIn(timeGetTime()), 100u);
    Tick(99);
    EXPECT_EQ(Timers(101), 0);
    Tick(1);
    EXPECT_EQ(Timers(101), 1);
    Tick(100);
    EXPECT_EQ(Timers(101), 2);

    // Replacing keeps one timer with the new period.
    EXPECT_EQ(SetTimer(m_hwnd, 101, 30), 101u);
    Tick(30);
    EXPECT_EQ(Timers(101), 3);
    Tick(30);
    EXPECT_EQ(Timers(101), 4);

    EXPECT_TRUE(KillTimer(m_hwnd, 101));
    EXPECT_FALSE(KillTimer(m_hwnd, 101));
    Tick(1000);
    EXPECT_EQ(Timers(101), 4);
    EXPECT_EQ(m_queue.NextTimerDueIn(timeGetTime()), 0xFFFFFFFFu);
}

TEST_F(TimerTest, SlowPumpSeesOneTimerMessageAndKillRemovesIt) {
    SetTimer(m_hwnd, 7, 10);
    SetTimer(m_hwnd, 8, 10);
    for (int i = 0; i < 10; ++i) {
        m_clock.AdvanceMs(10);
        m_queue.ProcessTimers(timeGetTime());
    }
    EXPECT_EQ(m_queue.PendingCount(), 2u);  // never more than one per timer
    KillTimer(m_hwnd, 7);
    m_queue.DispatchPending();
    EXPECT_EQ(Timers(7), 0);
    EXPECT_EQ(Timers(8), 1);
}

TEST_F(TimerTest, BadArgumentsAndClockWrap) {
    EXPECT_EQ(SetTimer(m_hwnd, 0, 10), 0u);
    EXPECT_EQ(SetTimer(nullptr, 1, 10), 0u);
    m_clock.SetMs(0xFFFFFFF0u);
    SetTimer(m_hwnd, 3, 0x20);
    Tick(0x1F);
    EXPECT_EQ(Timers(3), 0);
    Tick(1);
    EXPECT_EQ(Timers(3), 1);
    DestroyWindowHandle(m_hwnd);
    EXPECT_EQ(m_queue.NextTimerDueIn(timeGetTime()), 0xFFFFFFFFu);
}

TEST(AcceleratorTest, MatchesKeyAndModifiersOnly) {
    CMessageQueue queue;
    Recorder target;
    HWND hwnd = CreateWindowHandle(queue, &target);
    const ACCEL table[] = {{FVIRTKEY | FCONTROL, 'O', 40008}, {FVIRTKEY, VK_F1, 40003},
                           {FVIRTKEY | FALT, '1', 40004}};
    HACCEL accel = CreateAcceleratorTable(table, 3);
    ASSERT_NE(accel, nullptr);
    MSG key;
    key.hwnd = hwnd;
    key.message = WM_KEYDOWN;
    key.wParam = 'O';
    key.keyState = FCONTROL;
    EXPECT_EQ(TranslateAccelerator(hwnd, accel, &key), 1);
    key.keyState = FCONTROL | FSHIFT;
    EXPECT_EQ(TranslateAccelerator(hwnd, accel, &key), 0);
    key.keyState = 0;
    key.wParam = VK_F1;
    EXPECT_EQ(TranslateAccelerator(hwnd, accel, &key), 1);
    key.message = WM_SYSKEYDOWN;
    key.wParam = '1';
    key.keyState = FALT;
    EXPECT_EQ(TranslateAccelerator(hwnd, accel, &key), 1);
    EXPECT_EQ(TranslateAccelerator(nullptr, accel, &key), 0);
    key.message = WM_TIMER;
    EXPECT_EQ(TranslateAccelerator(hwnd, accel, &key), 0);
    ASSERT_EQ(target.got.size(), 3u);
    EXPECT_EQ(target.got[0].message, WM_COMMAND);
    EXPECT_EQ(LOWORD(target.got[0].wParam), 40008);
    EXPECT_EQ(HIWORD(target.got[0].wParam), 1);
    EXPECT_EQ(LOWORD(target.got[1].wParam), 40003);
    EXPECT_EQ(LOWORD(target.got[2].wParam), 40004);
    EXPECT_TRUE(DestroyAcceleratorTable(accel));
}

TEST(MessageSinkTest, QueuesPostsAnswersSendsAndRefusesAfterDestroy) {
    CMessageSink sink;
    sink.SetSendHandler([](UINT message, WPARAM, LPARAM) { return message == WM_USER + 40 ? 1 : 0; });
    std::thread worker([h = sink.Handle()] {
        PostMessage(h, WM_USER + 11, 16, 32);
        EXPECT_EQ(SendMessage(h, WM_USER + 40, 0, 0), 1);  // answered on this thread
    });
    MSG msg;
    ASSERT_TRUE(sink.Wait(msg, 10000));
    worker.join();
    EXPECT_EQ(msg.message, WM_USER + 11);
    EXPECT_EQ(msg.wParam, 16u);
    EXPECT_EQ(msg.lParam, 32);
    ASSERT_EQ(sink.Sent().size(), 1u);
    EXPECT_EQ(sink.Sent()[0].message, WM_USER + 40);
    EXPECT_FALSE(sink.Take(msg));
    sink.Destroy();
    EXPECT_FALSE(PostMessage(sink.Handle(), WM_USER, 0, 0));
    EXPECT_TRUE(sink.TakeAll().empty());
}

}  // namespace
