#pragma once
// Thread and process priorities in the Windows shape. Real-time scheduling is
// used where the system grants it; where it does not (no rights, a container)
// the call still succeeds and the thread simply stays at normal priority, as
// the program must run either way. Lower-than-normal requests are recorded
// but not applied: an unprivileged Linux thread could not come back up.
#include "platform/WinTypes.h"

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

constexpr DWORD IDLE_PRIORITY_CLASS = 0x40;
constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;
constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
constexpr DWORD HIGH_PRIORITY_CLASS = 0x80;
constexpr DWORD REALTIME_PRIORITY_CLASS = 0x100;

// Pseudo handles for the calling thread and the process, the only ones the
// priority calls accept.
HANDLE GetCurrentThread();
HANDLE GetCurrentProcess();

// FALSE only for a handle other than GetCurrentThread() or an unknown level.
BOOL SetThreadPriority(HANDLE thread, int priority);
// The level last set on the calling thread (THREAD_PRIORITY_NORMAL at first).
int GetThreadPriority(HANDLE thread);
// FALSE only for a handle other than GetCurrentProcess() or an unknown class.
BOOL SetPriorityClass(HANDLE process, DWORD priorityClass);
DWORD GetPriorityClass(HANDLE process);

// Moves the calling thread for good to a nice value of 10, below every
// normal thread: for background workers that never need to come back up.
// FALSE when the system refused.
BOOL LowerCurrentThreadForGood();
// The calling thread's nice value (tests).
int GetCurrentThreadNice();

// Whether the calling thread really runs under a real-time policy now (tests,
// diagnostics).
bool IsThreadRealTime();
