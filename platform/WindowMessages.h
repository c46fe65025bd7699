#pragma once
// Window handles, posted and sent messages, timers and accelerators in the
// shape the program was written against, without any window system.
//
// A window here is a handle registered with a message queue and a target
// that handles its messages. The user interface binds the queue of its GUI
// thread to its toolkit's event loop; the call engine, the remote-control
// server and their tests only ever see handles and these calls.
//
// Threads: PostMessage, SendMessage and IsWindow may be called from any
// thread. Everything else on a queue (creating and destroying its windows,
// dispatching, timers) belongs to the queue's owner thread, the one that
// built the queue.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WinTypes.h"

struct HWND__;
using HWND = HWND__*;
struct HACCEL__;
using HACCEL = HACCEL__*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT_PTR = uintptr_t;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

// Modifier and key-kind flags of an accelerator entry and of a key message.
constexpr BYTE FVIRTKEY = 0x01;
constexpr BYTE FSHIFT = 0x04;
constexpr BYTE FCONTROL = 0x08;
constexpr BYTE FALT = 0x10;

// Virtual-key codes used by the accelerator tables ('0'-'9' and 'A'-'Z' are
// their characters).
constexpr WORD VK_F1 = 0x70;

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
    // Modifier keys (FSHIFT, FCONTROL, FALT) held when a key message was made;
    // stands in for the key-state query of the original system.
    BYTE keyState = 0;
};

inline WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
inline WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
inline WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }

// What a window does with its messages. Called on the owner thread of the
// window's queue, except for sends to a queue built with direct sends.
class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

class CMessageQueue {
public:
    // directSends: sent messages run at once on the sender's thread instead
    // of waiting for the owner (for headless sinks, which have no pump).
    explicit CMessageQueue(bool directSends = false);
    // Destroys every window still registered on the queue; pending senders
    // are released with result 0.
    ~CMessageQueue();
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    // Called from any thread whenever the queue gains work (a message, a
    // send, a timer change) while the owner may be waiting for events. Set it
    // before other threads post.
    void SetWakeHandler(std::function<void()> wake);

    // Owner thread: takes the oldest posted message without dispatching it.
    bool PeekMessage(MSG& out);
    // Any single consumer: waits up to timeoutMs of real time for a message.
    bool WaitMessage(MSG& out, uint32_t timeoutMs);
    // Owner thread: runs waiting sends, then dispatches at most maxCount
    // posted messages. Returns the number of messages handled.
    int DispatchPending(int maxCount = 1 << 30);
    // Owner thread: turns each timer due at `now` into one WM_TIMER (never two
    // waiting for the same timer) and re-arms it.
    void ProcessTimers(uint32_t now);
    // Milliseconds from `now` to the next due timer; 0xFFFFFFFF without one.
    uint32_t NextTimerDueIn(uint32_t now) const;
    size_t PendingCount() const;
    bool IsOwnerThread() const { return std::this_thread::get_id() == m_owner; }

private:
    friend struct CWindowRegistry;
    friend BOOL PostMessage(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM);
    friend UINT_PTR SetTimer(HWND, UINT_PTR, UINT);
    friend BOOL KillTimer(HWND, UINT_PTR);
    friend BOOL DestroyWindowHandle(HWND);

    struct Timer {
        HWND hwnd;
        UINT_PTR id;
        uint32_t interval;
        uint32_t due;
        bool queued;
    };

    void Wake();
    void DropWindow(HWND hwnd);  // under m_mutex

    const std::thread::id m_owner;
    const bool m_directSends;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<MSG> m_posted;
    std::vector<Timer> m_timers;
    std::function<void()> m_wake;
};

// Owner thread of `queue`: registers a window; the handle is never reused,
// so a handle kept after its window is gone stays invalid.
HWND CreateWindowHandle(CMessageQueue& queue, CMessageTarget* target);
// Owner thread: unregisters the window, drops its waiting messages and
// timers and releases anyone waiting on a send to it (result 0).
BOOL DestroyWindowHandle(HWND hwnd);
BOOL IsWindow(HWND hwnd);

// Any thread. FALSE for a window that does not exist (or no longer does).
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Any thread; runs the message on the window's owner thread and returns its
// result; 0 for a window that does not exist or is destroyed meanwhile.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Owner thread. A timer with the same window and id is replaced. Returns id
// (non-zero) or 0 for a bad window or id 0.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
// Also removes a WM_TIMER of that timer still waiting in the queue.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

struct ACCEL {
    BYTE fVirt;  // FVIRTKEY with FSHIFT, FCONTROL, FALT
    WORD key;
    WORD cmd;
};
HACCEL CreateAcceleratorTable(const ACCEL* entries, int count);
BOOL DestroyAcceleratorTable(HACCEL table);
// A key-down message matching an entry of the table becomes WM_COMMAND
// (command id, 1) sent to hwnd; returns 1 then, else 0.
int TranslateAccelerator(HWND hwnd, HACCEL table, const MSG* msg);
