#include "platform/WindowMessages.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "platform/Clock.h"

// Lock order: the registry's lock before a queue's lock, never the reverse.
struct CWindowRegistry {
    struct Entry {
        CMessageQueue* queue;
        CMessageTarget* target;
    };
    std::mutex mutex;
    std::unordered_map<uintptr_t, Entry> windows;
    uintptr_t nextId = 0x10010;  // handles never come back after destruction

    static CWindowRegistry& Get() {
        static CWindowRegistry registry;
        return registry;
    }
    // Under `mutex`.
    Entry* Find(HWND hwnd) {
        auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
        return it == windows.end() ? nullptr : &it->second;
    }
    CMessageTarget* TargetOn(HWND hwnd, const CMessageQueue* queue) {
        std::lock_guard<std::mutex> lock(mutex);
        Entry* e = Find(hwnd);
        return e && e->queue == queue ? e->target : nullptr;
    }
};

namespace {

// One waiting sender; shared so that it outlives a queue destroyed meanwhile.
struct SendRecord {
    MSG msg;
    LRESULT result = 0;
    bool done = false;
    std::mutex mutex;
    std::condition_variable cv;

    void Finish(LRESULT r) {
        std::lock_guard<std::mutex> lock(mutex);
        result = r;
        done = true;
        cv.notify_all();
    }
};

}  // namespace

// The queue keeps waiting senders as opaque pointers to shared records.
struct CMessageQueueSends {
    std::deque<std::shared_ptr<SendRecord>> records;
};

namespace {
std::mutex g_sendsMutex;
std::unordered_map<const CMessageQueue*, CMessageQueueSends> g_sends;  // under g_sendsMutex

void ReleaseSends(const CMessageQueue* queue, HWND onlyWindow) {
    std::vector<std::shared_ptr<SendRecord>> released;
    {
        std::lock_guard<std::mutex> lock(g_sendsMutex);
        auto it = g_sends.find(queue);
        if (it == g_sends.end()) return;
        auto& records = it->second.records;
        for (auto r = records.begin(); r != records.end();) {
            if (!onlyWindow || (*r)->msg.hwnd == onlyWindow) {
                released.push_back(*r);
                r = records.erase(r);
            } else {
                ++r;
            }
        }
        if (!onlyWindow) g_sends.erase(it);
    }
    for (auto& r : released) r->Finish(0);
}
}  // namespace

CMessageQueue::CMessageQueue(bool directSends)
    : m_owner(std::this_thread::get_id()), m_directSends(directSends) {}

CMessageQueue::~CMessageQueue() {
    {
        auto& reg = CWindowRegistry::Get();
        std::lock_guard<std::mutex> lock(reg.mutex);
        for (auto it = reg.windows.begin(); it != reg.windows.end();) {
            it = it->second.queue == this ? reg.windows.erase(it) : std::next(it);
        }
    }
    ReleaseSends(this, nullptr);
}

void CMessageQueue::SetWakeHandler(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake = std::move(wake);
}

void CMessageQueue::Wake() {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wake = m_wake;
    }
    if (wake) wake();
}

bool CMessageQueue::PeekMessage(MSG& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_posted.empty()) return false;
    out = m_posted.front();
    m_posted.pop_front();
    if (out.message == WM_TIMER) {
        for (auto& t : m_timers) {
            if (t.hwnd == out.hwnd && t.id == out.wParam) t.queued = false;
        }
    }
    return true;
}

bool CMessageQueue::WaitMessage(MSG& out, uint32_t timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !m_posted.empty(); })) {
            return false;
        }
    }
    return PeekMessage(out);
}

int CMessageQueue::DispatchPending(int maxCount) {
    auto& reg = CWindowRegistry::Get();
    int handled = 0;
    for (;;) {
        std::shared_ptr<SendRecord> record;
        {
            std::lock_guard<std::mutex> lock(g_sendsMutex);
            auto it = g_sends.find(this);
            if (it == g_sends.end() || it->second.records.empty()) break;
            record = it->second.records.front();
            it->second.records.pop_front();
        }
        CMessageTarget* target = reg.TargetOn(record->msg.hwnd, this);
        record->Finish(target ? target->WindowProc(record->msg.message, record->msg.wParam,
                                                   record->msg.lParam)
                              : 0);
        ++handled;
    }
    for (int n = 0; n < maxCount; ++n) {
        MSG msg;
        if (!PeekMessage(msg)) break;
        if (CMessageTarget* target = reg.TargetOn(msg.hwnd, this)) {
            target->WindowProc(msg.message, msg.wParam, msg.lParam);
        }
        ++handled;
    }
    return handled;
}

void CMessageQueue::ProcessTimers(uint32_t now) {
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& t : m_timers) {
            // The clock wraps after 49.7 days; the signed difference copes.
            if (static_cast<int32_t>(now - t.due) < 0) continue;
            t.due = now + t.interval;
            if (t.queued) continue;  // one WM_TIMER at a time, as the original
            t.queued = true;
            MSG msg;
            msg.hwnd = t.hwnd;
            msg.message = WM_TIMER;
            msg.wParam = t.id;
            msg.time = now;
            m_posted.push_back(msg);
            any = true;
        }
    }
    if (any) m_cv.notify_all();
}

uint32_t CMessageQueue::NextTimerDueIn(uint32_t now) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    uint32_t best = 0xFFFFFFFFu;
    for (const auto& t : m_timers) {
        const int32_t left = static_cast<int32_t>(t.due - now);
        best = std::min(best, left <= 0 ? 0u : static_cast<uint32_t>(left));
    }
    return best;
}

size_t CMessageQueue::PendingCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_posted.size();
}

void CMessageQueue::DropWindow(HWND hwnd) {
    m_posted.erase(std::remove_if(m_posted.begin(), m_posted.end(),
                                  [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
                   m_posted.end());
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [hwnd](const Timer& t) { return t.hwnd == hwnd; }),
                   m_timers.end());
}

HWND CreateWindowHandle(CMessageQueue& queue, CMessageTarget* target) {
    if (!target) return nullptr;
    auto& reg = CWindowRegistry::Get();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const uintptr_t id = reg.nextId;
    reg.nextId += 2;
    reg.windows.emplace(id, CWindowRegistry::Entry{&queue, target});
    return reinterpret_cast<HWND>(id);
}

BOOL DestroyWindowHandle(HWND hwnd) {
    auto& reg = CWindowRegistry::Get();
    CMessageQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto it = reg.windows.find(reinterpret_cast<uintptr_t>(hwnd));
        if (it == reg.windows.end()) return FALSE;
        queue = it->second.queue;
        reg.windows.erase(it);
        std::lock_guard<std::mutex> qlock(queue->m_mutex);
        queue->DropWindow(hwnd);
    }
    ReleaseSends(queue, hwnd);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    auto& reg = CWindowRegistry::Get();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.Find(hwnd) ? TRUE : FALSE;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& reg = CWindowRegistry::Get();
    // Held while waking, so that the queue cannot be destroyed under us.
    std::lock_guard<std::mutex> lock(reg.mutex);
    CWindowRegistry::Entry* e = reg.Find(hwnd);
    if (!e) return FALSE;
    CMessageQueue* queue = e->queue;
    bool wasEmpty;
    {
        std::lock_guard<std::mutex> qlock(queue->m_mutex);
        wasEmpty = queue->m_posted.empty();
        MSG msg;
        msg.hwnd = hwnd;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        msg.time = timeGetTime();
        queue->m_posted.push_back(msg);
    }
    queue->m_cv.notify_one();
    if (wasEmpty) queue->Wake();
    return TRUE;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& reg = CWindowRegistry::Get();
    auto record = std::make_shared<SendRecord>();
    {
        std::unique_lock<std::mutex> lock(reg.mutex);
        CWindowRegistry::Entry* e = reg.Find(hwnd);
        if (!e) return 0;
        CMessageQueue* queue = e->queue;
        if (queue->IsOwnerThread() || queue->m_directSends) {
            CMessageTarget* target = e->target;
            lock.unlock();
            return target->WindowProc(message, wParam, lParam);
        }
        record->msg.hwnd = hwnd;
        record->msg.message = message;
        record->msg.wParam = wParam;
        record->msg.lParam = lParam;
        {
            std::lock_guard<std::mutex> slock(g_sendsMutex);
            g_sends[queue].records.push_back(record);
        }
        queue->m_cv.notify_one();
        queue->Wake();
    }
    std::unique_lock<std::mutex> wait(record->mutex);
    record->cv.wait(wait, [&] { return record->done; });
    return record->result;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    if (id == 0) return 0;
    auto& reg = CWindowRegistry::Get();
    std::lock_guard<std::mutex> lock(reg.mutex);
    CWindowRegistry::Entry* e = reg.Find(hwnd);
    if (!e) return 0;
    CMessageQueue* queue = e->queue;
    const uint32_t now = timeGetTime();
    {
        std::lock_guard<std::mutex> qlock(queue->m_mutex);
        auto it = std::find_if(queue->m_timers.begin(), queue->m_timers.end(),
                               [&](const CMessageQueue::Timer& t) { return t.hwnd == hwnd && t.id == id; });
        if (it != queue->m_timers.end()) {
            it->interval = elapseMs;
            it->due = now + elapseMs;
        } else {
            queue->m_timers.push_back({hwnd, id, elapseMs, now + elapseMs, false});
        }
    }
    queue->Wake();  // the pump re-plans its next timer wake-up
    return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    auto& reg = CWindowRegistry::Get();
    std::lock_guard<std::mutex> lock(reg.mutex);
    CWindowRegistry::Entry* e = reg.Find(hwnd);
    if (!e) return FALSE;
    CMessageQueue* queue = e->queue;
    std::lock_guard<std::mutex> qlock(queue->m_mutex);
    auto& timers = queue->m_timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const CMessageQueue::Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    auto& posted = queue->m_posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [&](const MSG& m) {
                                    return m.hwnd == hwnd && m.message == WM_TIMER && m.wParam == id;
                                }),
                 posted.end());
    return TRUE;
}

namespace {
struct AcceleratorTable {
    std::vector<ACCEL> entries;
};
}  // namespace

HACCEL CreateAcceleratorTable(const ACCEL* entries, int count) {
    if (!entries || count <= 0) return nullptr;
    auto* table = new AcceleratorTable;
    table->entries.assign(entries, entries + count);
    return reinterpret_cast<HACCEL>(table);
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    if (!table) return FALSE;
    delete reinterpret_cast<AcceleratorTable*>(table);
    return TRUE;
}

int TranslateAccelerator(HWND hwnd, HACCEL table, const MSG* msg) {
    if (!hwnd || !table || !msg) return 0;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return 0;
    const BYTE mods = msg->keyState & (FSHIFT | FCONTROL | FALT);
    for (const ACCEL& a : reinterpret_cast<AcceleratorTable*>(table)->entries) {
        if (!(a.fVirt & FVIRTKEY) || a.key != msg->wParam) continue;
        if ((a.fVirt & (FSHIFT | FCONTROL | FALT)) != mods) continue;
        SendMessage(hwnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
        return 1;
    }
    return 0;
}
