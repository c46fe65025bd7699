#include "ui/framework/GuiPump.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/evtloop.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>

#include "platform/Clock.h"

namespace {

class CWxPump : public wxEvtHandler {
public:
    CWxPump() : m_timer(this) {
        Bind(wxEVT_THREAD, [this](wxThreadEvent&) { OnWake(); });
        Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Pump(); });
    }

    // Any thread. One wake-up event at a time is enough: the pump drains
    // everything that is waiting when it runs.
    void Wake() {
        if (!m_alive.load(std::memory_order_acquire)) return;
        if (m_pending.exchange(true, std::memory_order_acq_rel)) return;
        wxQueueEvent(this, new wxThreadEvent(wxEVT_THREAD));
    }

    void Pump() {
        CMessageQueue& queue = GuiQueue();
        queue.ProcessTimers(timeGetTime());
        queue.DispatchPending(2000);  // bounded, so that painting and input keep up
        if (queue.PendingCount()) Wake();
        const uint32_t next = queue.NextTimerDueIn(timeGetTime());
        if (next == 0xFFFFFFFFu) {
            m_timer.Stop();
        } else {
            m_timer.StartOnce(static_cast<int>(std::clamp<uint32_t>(next, 1, 60000)));
        }
    }

    void SetAlive(bool alive) { m_alive.store(alive, std::memory_order_release); }

private:
    void OnWake() {
        m_pending.store(false, std::memory_order_release);
        Pump();
    }

    wxTimer m_timer;
    std::atomic<bool> m_pending{false};
    std::atomic<bool> m_alive{false};
};

// Both live to the end of the process: other threads may still post while
// the toolkit shuts down, and must find something that refuses calmly.
CWxPump* g_pump = nullptr;

}  // namespace

CMessageQueue& GuiQueue() {
    static CMessageQueue* queue = new CMessageQueue;
    return *queue;
}

void BindGuiQueue() {
    if (!g_pump) g_pump = new CWxPump;
    g_pump->SetAlive(true);
    GuiQueue().SetWakeHandler([] { g_pump->Wake(); });
    g_pump->Wake();
}

void UnbindGuiQueue() {
    if (!g_pump) return;
    g_pump->SetAlive(false);
    GuiQueue().SetWakeHandler(nullptr);
}

void PumpGuiQueue() {
    if (g_pump) {
        g_pump->Pump();
    } else {
        GuiQueue().ProcessTimers(timeGetTime());
        GuiQueue().DispatchPending();
    }
}

void PumpToolkitEvents() {
    if (wxEventLoopBase::GetActive()) {
        wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
    } else {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        for (int n = 0; n < 1000 && loop.Pending(); ++n) loop.Dispatch();
    }
    PumpGuiQueue();
}
