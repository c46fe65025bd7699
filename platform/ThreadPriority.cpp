#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

HANDLE const kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

thread_local int t_priority = THREAD_PRIORITY_NORMAL;
std::atomic<DWORD> g_priorityClass{NORMAL_PRIORITY_CLASS};

bool KnownThreadPriority(int p) {
    switch (p) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
        return true;
    default:
        return false;
    }
}

// Round-robin, so two real-time threads of ours share the processor; the
// levels stay well below the kernel's own threads.
int RealTimeLevel(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_TIME_CRITICAL:
        return 40;
    case THREAD_PRIORITY_HIGHEST:
        return 20;
    default:
        return 0;  // normal scheduling
    }
}

}  // namespace

HANDLE GetCurrentThread() { return kCurrentThread; }
HANDLE GetCurrentProcess() { return kCurrentProcess; }

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (thread != kCurrentThread || !KnownThreadPriority(priority)) return FALSE;
    t_priority = priority;
    const int level = RealTimeLevel(priority);
    sched_param param{};
    param.sched_priority = level;
    if (level == 0 || pthread_setschedparam(pthread_self(), SCHED_RR, &param) != 0) {
        // Not granted (or not asked for): normal scheduling.
        param.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    if (thread != kCurrentThread) return THREAD_PRIORITY_NORMAL;
    return t_priority;
}

BOOL SetPriorityClass(HANDLE process, DWORD priorityClass) {
    if (process != kCurrentProcess) return FALSE;
    int nice = 0;
    switch (priorityClass) {
    case IDLE_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case NORMAL_PRIORITY_CLASS:
        nice = 0;
        break;  // lowering could not be undone
    case ABOVE_NORMAL_PRIORITY_CLASS:
        nice = -5;
        break;
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
        nice = -10;
        break;
    default:
        return FALSE;
    }
    g_priorityClass.store(priorityClass, std::memory_order_relaxed);
    // Refused without the right to raise priority; the program runs on.
    setpriority(PRIO_PROCESS, 0, nice);
    return TRUE;
}

DWORD GetPriorityClass(HANDLE process) {
    if (process != kCurrentProcess) return 0;
    return g_priorityClass.load(std::memory_order_relaxed);
}

bool IsThreadRealTime() {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return false;
    return policy == SCHED_RR || policy == SCHED_FIFO;
}

BOOL LowerCurrentThreadForGood() {
    // On Linux the nice value of PRIO_PROCESS with a thread id is that thread's own.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    return ::setpriority(PRIO_PROCESS, tid, 10) == 0 ? TRUE : FALSE;
}

int GetCurrentThreadNice() {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}
